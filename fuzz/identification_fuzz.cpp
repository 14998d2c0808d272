// Replies to the identification calls: basic, boot-loader, advanced and
// extended information, the information text, the Modbus address, the USB
// port query, buffer size, programmer version and debug logs; then the
// report of whatever was decoded.
#include "fuzz/fuzz_link.h"
#include "unit/rpc_boot_loader.h"
#include "unit/rpc_buffer_size.h"
#include "unit/rpc_files.h"
#include "unit/rpc_identification.h"
#include "unit/unit_info_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kel;
  fuzz::FuzzInput input(data, size);
  fuzz::FuzzLink& f = input.link;
  UnitInfo unit;
  unit.connectionMode = modeApplication;
  unit.unitAddress = 5;
  fuzz::Guarded([&] {
    ReadUnitInfo(f.link, unit);
    ReadBootLoaderVersion(f.link, unit);
    ReadBootLoaderRelease(f.link, unit);
    unit.softwareVersion = 610;
    ReadAdvancedInfo(f.link, unit);
    unit.connectionMode = modeApplication;
    unit.softwareVersion = 610;
    ReadExtendedInfo(f.link, unit);
    GetModbusAddress(f.link, unit);
    IsVComPort(f.link, unit);
    GetBufferSize(f.link, unit);
    rpc::GetProgrammerVersion(f.link, unit);
    std::vector<uint16_t> logs;
    GetDebugLogs(f.link, unit, logs);
    PrintUnitInfo(f.out, unit);
    PrintUnitInfo(f.out, unit, true);
  });
  return 0;
}
