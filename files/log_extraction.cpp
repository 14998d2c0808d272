#include "files/log_extraction.h"

#include <array>
#include <functional>
#include <vector>

#include "files/extracted_file.h"
#include "link/comm_port.h"
#include "platform/files.h"
#include "runtime/output.h"
#include "runtime/report_level.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/card_table.h"
#include "unit/link_speed.h"
#include "unit/progress_display.h"
#include "unit/remote_units.h"
#include "unit/rpc_files.h"
#include "unit/rpc_identification.h"
#include "unit/rpc_proxy.h"
#include "unit/transfer_meter.h"
#include "unit/unit_info_report.h"

namespace kel {

namespace {

constexpr int16_t kFirstNetworkSoftware = 600;
constexpr int16_t kFirstLogSoftware = 601;
constexpr char kCannotCreate[] = "Unable to create: ";
constexpr char kNotAllSaved[] = "Incomplete: some logs could not be saved\r\n";
// No log is longer than the unit's flash; a unit that keeps answering full
// blocks past this is faulty, and its copy stops here.
constexpr uint32_t kMaxLogBytes = 4u * 1024u * 1024u;

uint32_t LogLimit(const UnitInfo& unit) {
  const uint32_t flash = McuFlashBytes(unit.mcuType);
  return flash != 0 && flash < kMaxLogBytes ? flash : kMaxLogBytes;
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder + PathSeparator() + name;
}

// Run before a fatal error of the copying: puts the link back to its speed.
using BeforeFatal = std::function<void()>;

// One unit's copying: its address, tag and the folder the files go to.
struct Extraction {
  RemoteFileAccess& files;
  uint8_t address;
  std::string folder;
  std::string tag;
  const BeforeFatal& beforeFatal;
  uint32_t limit;
  // Files of this job that could not be saved whole.
  int& unsaved;

  Runtime& rt() { return files.link().runtime; }
  std::string PathFor(const char* kind) const { return Join(folder, kind + tag + ".txt"); }

  [[noreturn]] void CannotCreate(const std::string& path) {
    if (beforeFatal) beforeFatal();
    rt().FatalError(kCannotCreate + path);
  }

  void PrepareFolder() {
    if (!PrepareOutputFolder(folder)) CannotCreate(folder);
  }

  void CreateOutput(ExtractedFile& output, const std::string& path) {
    if (!output.Create(path)) CannotCreate(path);
  }

  // A copy that met a full disk is dropped, and a whole one saved before
  // stays; the job goes on with the next file. Anything else that keeps the
  // copy from its name (a link planted there meanwhile) ends the run.
  void FinishOutput(ExtractedFile& output) {
    if (output.Close()) return;
    if (output.writeError().empty()) CannotCreate(output.path());
    rt().out.Print(Sink::kInfo, "Cannot save ", output.path(), ": ", output.writeError(), "\r\n");
    ++unsaved;
  }

  bool Open(uint16_t file) {
    uint8_t result = 0;
    return files.OpenFile(address, kLogDrive, file, false, result) && result == 0;
  }

  void CloseOnUnit(uint16_t file) {
    uint8_t result = 0;
    files.CloseFile(address, kLogDrive, file, result);
  }

  // Copies the open file's blocks into `output` until the end of the file,
  // the first failure or `limit` bytes; each block without its trailing
  // zero bytes.
  void CopyBlocks(uint16_t file, ExtractedFile& output) {
    Output& out = rt().out;
    LoweredReportLevel lowered(out);
    std::array<uint8_t, kFileBlockSize> block{};
    for (uint32_t offset = 0;;) {
      uint8_t length = kFileBlockSize;
      if (!files.ReadFileRemote(address, kLogDrive, file, offset, length, block.data())) {
        out.Print(Sink::kDebug, "ReadFileRemote failed\r\n");
        return;
      }
      if (length == 0) return;
      if (offset >= limit) {
        out.Print(Sink::kInfo, "-- copy stopped at ", limit,
                  " bytes: the unit sends more than its flash holds\r\n");
        // What came is kept, but the log is not whole: the run says so at
        // its end.
        ++unsaved;
        return;
      }
      size_t kept = length;
      while (kept > 0 && block[kept - 1] == 0) --kept;
      if (!output.Write(block.data(), kept)) {
        out.Print(Sink::kDebug, "OSWriteFile failed\r\n");
        return;
      }
      offset += length;
    }
  }

  // The configuration or crash log into a file of its own.
  void CopyLog(uint16_t file, const char* kind, const char* absent) {
    Output& out = rt().out;
    if (!Open(file)) {
      out.Print(Sink::kInfo, absent);
      return;
    }
    out.Print(Sink::kInfo, "Uploading file: ", Hex(file, 4), "\r\n");
    TransferMeter meter;
    meter.Start(rt().clock.Ticks(), files.link().port);
    PrepareFolder();
    const std::string path = PathFor(kind);
    out.Print(Sink::kInfo, "Saving to \"", path, "\"\r\n");
    ExtractedFile output;
    CreateOutput(output, path);
    CopyBlocks(file, output);
    FinishOutput(output);
    CloseOnUnit(file);
    meter.ReportReceived(out, rt().clock.Ticks(), files.link().port);
  }

  // Every debug log, in the order the unit named them, into one file.
  void CopyDebugLogs(const std::vector<uint16_t>& numbers) {
    Output& out = rt().out;
    out.Print(Sink::kInfo, "Uploading files: ");
    for (uint16_t number : numbers) out.Print(Sink::kInfo, " ", Hex(number, 4));
    out.Print(Sink::kInfo, "\r\n");
    PrepareFolder();
    const std::string path = PathFor("DebugLog_");
    ExtractedFile output;
    CreateOutput(output, path);
    out.Print(Sink::kInfo, "Saving to \"", path, "\"\r\n");

    // One row of dots across all of this unit's debug logs.
    ProgressDisplay bar;
    bar.Start(static_cast<uint32_t>(numbers.size()));
    static constexpr uint8_t kLineEnd[] = {'\r', '\n'};
    for (size_t k = 0; k < numbers.size(); ++k) {
      const uint16_t number = numbers[k];
      out.Print(Sink::kDebug, "Uploading file=", Hex(number, 4), "\r\n");
      bar.Advance(out, k == 0 ? 0 : 1);
      if (Open(number)) {
        TransferMeter meter;
        meter.Start(rt().clock.Ticks(), files.link().port);
        CopyBlocks(number, output);
        CloseOnUnit(number);
        meter.ReportReceived(out, rt().clock.Ticks(), files.link().port);
      } else {
        out.Print(Sink::kDebug, "-- file not found\r\n");
      }
      output.Write(kLineEnd, sizeof kLineEnd);
      // The file is lost already; its other logs are not read for nothing.
      if (!output.writeError().empty()) break;
    }
    // The row of dots ends before anything is said about the file.
    out.Print(Sink::kConsole, "\r\n");
    bar.Reset();
    FinishOutput(output);
  }
};

// The listing stops at the first remote unit that does not answer; false then.
bool ListForExtraction(Link& link, const UnitInfo& connected, const std::vector<uint8_t>& addresses,
                       std::vector<uint8_t>& list) {
  Output& out = link.runtime.out;
  out.Print(Sink::kInfo, "Ponderix Unit(s) found:\r\n", "Address  Information\r\n");
  // A test jig forwards to others and is never listed itself.
  bool placed = connected.cardNumber == kTestJigCard;
  for (uint8_t address : addresses) {
    if (!placed && connected.modbusAddress < address) {
      list.push_back(connected.modbusAddress);
      PrintUnitTableRow(out, connected.modbusAddress, connected);
      placed = true;
    }
    UnitInfo remote = RemoteRecord(address);
    if (!ReadUnitInfo(link, remote)) return false;
    if (remote.cardNumber == kTestJigCard) continue;
    ReadExtendedInfo(link, remote);
    list.push_back(address);
    PrintUnitTableRow(out, address, remote);
  }
  if (!placed) {
    list.push_back(connected.modbusAddress);
    PrintUnitTableRow(out, connected.modbusAddress, connected);
  }
  out.Print(Sink::kInfo, "\r\n");
  return true;
}

void CopyUnitLogs(RemoteFileAccess& files, UnitInfo& unit, const std::string& folder,
                  const BeforeFatal& beforeFatal, int& unsaved) {
  Link& link = files.link();
  Output& out = link.runtime.out;
  out.Print(Sink::kDebug, "ExtractLogFilesFromUnit=", unit.unitAddress, "\r\n");
  if (!ReadUnitInfo(link, unit)) return;
  ReadExtendedInfo(link, unit);
  ReadAdvancedInfo(link, unit);
  PrintUnitInfo(out, unit);
  if (unit.softwareVersion < kFirstLogSoftware) return;

  Extraction extraction{files,       unit.unitAddress, folder, UnitTag(unit),
                        beforeFatal, LogLimit(unit),   unsaved};
  out.Print(Sink::kInfo, "Checking for configuration log...\r\n");
  extraction.CopyLog(kConfigurationLogFile, "ConfigurationLog_",
                     "-- no configuration log found\r\n");
  out.Print(Sink::kInfo, "Checking for crash log...\r\n");
  extraction.CopyLog(kCrashLogFile, "CrashLog_", "-- no crash log found\r\n");

  out.Print(Sink::kInfo, "Checking for debug logs...\r\n");
  std::vector<uint16_t> numbers;
  if (!GetDebugLogs(link, unit, numbers)) return;
  if (numbers.empty()) {
    out.Print(Sink::kInfo, "-- no debug log found\r\n");
    return;
  }
  extraction.CopyDebugLogs(numbers);
}

// A job that could not save every log says so last and ends the run with
// the exit code for an incomplete run, so that a script does not take the
// logs as saved.
void ReportUnsaved(Runtime& rt, int unsaved) {
  if (unsaved == 0) return;
  rt.out.Print(Sink::kInfo, kNotAllSaved);
  rt.endExitCode = Runtime::kExitIncomplete;
}

}  // namespace

std::string UnitTag(const UnitInfo& unit) {
  return SafeNamePart(ZeroPadded(unit.modbusAddress, 2) + " PX" + std::to_string(unit.productWord) +
                      " " + CardShortName(unit.cardNumber) + " " +
                      std::to_string(unit.serialNumber));
}

void ExtractLogs(RemoteFileAccess& files, UnitInfo& connected, const std::string& folder) {
  Link& link = files.link();
  Runtime& rt = link.runtime;
  std::vector<uint8_t> addresses;
  if (connected.connectionMode != modeApplication ||
      connected.softwareVersion < kFirstNetworkSoftware || !ListRemoteUnits(link, addresses)) {
    return;
  }
  const int32_t remembered = link.port.settings().baudRate;
  if (!SetUnitSpeed(link, connected, rt.options.programmingBaudRate)) {
    rt.FatalError("Unable to change baud rate");
  }

  // A fatal error or a stop while copying puts the unit and the link back
  // through the run's speed scope; here only the orderly end does.
  const BeforeFatal speedBack;
  std::vector<uint8_t> list;
  int unsaved = 0;
  if (ListForExtraction(link, connected, addresses, list)) {
    for (uint8_t address : list) {
      UnitInfo unit = RemoteRecord(address);
      CopyUnitLogs(files, unit, folder, speedBack, unsaved);
      rt.out.Print(Sink::kInfo, "\r\n");
    }
  }
  if (!SetUnitSpeed(link, connected, remembered)) rt.FatalError("Unable to change baud rate");
  ReportUnsaved(rt, unsaved);
}

void ExtractLogFilesFromUnit(RemoteFileAccess& files, UnitInfo& unit, const std::string& folder) {
  int unsaved = 0;
  CopyUnitLogs(files, unit, folder, {}, unsaved);
  ReportUnsaved(files.link().runtime, unsaved);
}

}  // namespace kel
