#include "flash/hardware_failure.h"

#include "runtime/output.h"
#include "runtime/text_format.h"

namespace kel {

void ReportHardwareFailure(Output& out, uint32_t address, uint8_t result) {
  out.Print(Sink::kInfo,
            "\r\nUnit reported hardware failure, cannot write to MCU flash memory. Address=",
            HexAddress(address), ", Result=", Hex(result, 2), "\r\n");
}

}  // namespace kel
