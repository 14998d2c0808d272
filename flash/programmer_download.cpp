#include "flash/programmer_download.h"

#include "flash/memory_writer.h"
#include "flash/programmer_control.h"
#include "flash/programmer_speed.h"
#include "flash/record_image.h"
#include "runtime/report_level.h"
#include "unit/transfer_meter.h"
#include "flash/transfer_mode.h"
#include "flash/transfer_state.h"
#include "link/comm_port.h"
#include "link/packet_layer.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/link_speed.h"
#include "unit/rpc_boot_loader.h"
#include "unit/rpc_buffer_size.h"
#include "unit/rpc_programmer.h"

namespace kel {

namespace {

constexpr int kFirstReleaseWithWideWindow = 18;
constexpr size_t kWideWindow = 8;
constexpr int kFirstReleaseWithNewSpeedCodes = 15;
constexpr int kBootLoaderWithoutExamine = 1;
// Boot flag bit 0: the boot loader found no software in flash.
constexpr uint8_t kNoSoftwareBootFlag = 0x01;

// Sends every record; the window is drained before returning.
bool SendRecords(Link& link, TransferState& transfer, const RecordImage& image) {
  Output& out = link.runtime.out;
  for (const ImageRecord& record : image.records()) {
    out.Print(Sink::kDebug, "Downloading ", HexAddress(record.address), "(", record.length,
              ")\r\n");
    if (record.length > rpc::kSmallBlock && link.state.overlappedActive) {
      // Writes still in the window must be acknowledged before the link
      // carries one request at a time.
      if (!DrainWindow(link, transfer.writeWindow)) return false;
      TurnOverlappedOff(link, transfer);
    }
    if (!WriteMemory(link, transfer, record.address, record.data, record.length)) return false;
    transfer.progress.Advance(out, record.length);
  }
  return !link.state.overlappedActive || DrainWindow(link, transfer.writeWindow);
}

bool VerifyRecords(Link& link, TransferState& transfer, const RecordImage& image) {
  Output& out = link.runtime.out;
  for (const ImageRecord& record : image.records()) {
    out.Print(Sink::kDebug, "Verifying ", HexAddress(record.address), "(", record.length, ")\r\n");
    if (!ExamineMemory(link, record.address, record.data, record.length)) return false;
    transfer.progress.Advance(out, record.length);
  }
  return true;
}

}  // namespace

bool DownloadProgrammer(Link& link, TransferState& transfer, UnitInfo& unit, const ImageRef* image,
                        std::string_view name) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  RecordImage programmer;
  if (!image || !programmer.Parse(image->bytes, image->size)) {
    rt.FatalError("Cannot update unit: there is no flash programmer for this unit");
  }
  out.Print(Sink::kInfo, "Downloading ", name.empty() ? "programmer" : name, "...\r\n");
  // A programmer cut short would be started half written; refuse it whole.
  for (const ImageRecord& record : programmer.records()) {
    if (record.length > unit.bufferSize) {
      // The unit waits in its boot loader; the operator is told how far
      // apart the two are and how to get the unit running again. A unit
      // with no software (boot flag bit 0) has nothing to restart: it comes
      // up in its boot loader again whatever is done to it.
      out.Print(Sink::kInfo, "The unit takes requests of up to ", unit.bufferSize,
                " bytes; the flash programmer needs ", record.length, ".\r\n");
      if (unit.bootFlags & kNoSoftwareBootFlag) {
        out.Print(Sink::kInfo,
                  "The unit has no software and stays in its boot loader: have its boot loader "
                  "updated before its software is loaded.\r\n");
      } else {
        out.Print(Sink::kInfo,
                  "The unit is left in its boot loader: switch it off and on again to restart "
                  "its software, and have its boot loader updated.\r\n");
      }
      rt.FatalError("Unable to update unit: buffer size is too small");
    }
  }

  if (link.state.overlappedActive) {
    transfer.windowLimit = unit.bootLoaderRelease >= kFirstReleaseWithWideWindow ? kWideWindow : 1;
  }
  AnnounceTransferMode(link, transfer.windowLimit);
  LinkSettings& settings = link.port.settings();
  if (!SetProgrammerSpeed(link, unit, settings.programmerBaudRate,
                          unit.bootLoaderRelease < kFirstReleaseWithNewSpeedCodes)) {
    rt.FatalError("Unable to change baud rate");
  }

  LoweredReportLevel lowered(out);
  TransferMeter meter;
  meter.Start(rt.clock.Ticks(), link.port);
  transfer.progress.Start(programmer.totalLength());
  if (!SendRecords(link, transfer, programmer)) return false;
  out.Print(Sink::kConsole, "\r\n");
  transfer.progress.Reset();
  meter.ReportSent(out, rt.clock.Ticks(), link.port);
  TraceComplete(out);

  if (transfer.verify && unit.bootLoaderVersion != kBootLoaderWithoutExamine) {
    out.Print(Sink::kInfo, "Verifying programmer...\r\n");
    meter.Start(rt.clock.Ticks(), link.port);
    transfer.progress.Start(programmer.totalLength());
    if (!VerifyRecords(link, transfer, programmer)) return false;
    out.Print(Sink::kConsole, "\r\n");
    transfer.progress.Reset();
    meter.ReportReceived(out, rt.clock.Ticks(), link.port);
    TraceComplete(out);
  }
  lowered.Restore();

  // The programmer may start even when the echo is lost; what answers next
  // tells whether it runs.
  TransferToRamProgram(link, programmer.startAddress());
  unit.connectionMode = modeFlashProgrammer;
  link.state.unitLeftIn = modeFlashProgrammer;
  EndHardwareHandshake(link);
  if (!ChangePacketBaudRate(link, kFallbackSpeed, false, kLongTimeoutMs)) {
    rt.FatalError("Unable to change baudrate");
  }
  if (!SetProgrammerSpeed(link, unit, settings.programmerBaudRate, false)) {
    rt.FatalError("Unable to change baud rate");
  }
  if (!rpc::GetProgrammerVersion(link, unit) ||
      (link.packets.proxy().on && !rpc::ConfigureProgrammer(link, 1))) {
    rt.FatalError("Unable to connect to programmer");
  }
  GetBufferSize(link, unit);
  return true;
}

}  // namespace kel
