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
#include "unit/unit_summary.h"

namespace kel {

namespace {

constexpr int16_t kFirstNetworkSoftware = 600;
constexpr int16_t kFirstLogSoftware = 601;
constexpr char kCannotCreate[] = "Unable to create: ";
constexpr char kNotAllSaved[] = "Incomplete: some logs could not be saved\r\n";
constexpr char kNothingCopied[] = " does not answer: no logs were copied\r\n";
constexpr char kUnitNotCopied[] = " does not answer: its logs were not copied\r\n";
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

// What OpenFile gave for one of a unit's logs.
enum class Opened { kOpen, kAbsent, kUnreadable };

// The texts of one kind of log that has a file of its own.
struct LogKind {
  const char* prefix;      // of the saved file's name
  const char* absent;      // the unit keeps none
  const char* unreadable;  // the unit did not answer the open
};

constexpr LogKind kConfigurationLog = {"ConfigurationLog_", "-- no configuration log found\r\n",
                                       "-- the configuration log could not be read\r\n"};
constexpr LogKind kCrashLog = {"CrashLog_", "-- no crash log found\r\n",
                               "-- the crash log could not be read\r\n"};
constexpr char kCutShort[] = "the unit did not send the whole log";

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
  // Files of this unit saved whole.
  int saved = 0;

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

  void CannotSave(const std::string& path, const std::string& reason) {
    rt().out.Print(Sink::kInfo, "Cannot save ", path, ": ", reason, "\r\n");
    ++unsaved;
  }

  // A copy that did not reach the end of its log (the unit stopped
  // answering, restarted, or a read gave up) or that met a full disk is
  // dropped, and a whole one saved before stays; the job goes on with the
  // next file. Anything else that keeps the copy from its name (a link
  // planted there meanwhile) ends the run.
  void FinishOutput(ExtractedFile& output, bool whole) {
    if (!whole) {
      output.Discard();
      CannotSave(output.path(), kCutShort);
      return;
    }
    if (output.Close()) {
      ++saved;
      return;
    }
    if (output.writeError().empty()) CannotCreate(output.path());
    CannotSave(output.path(), output.writeError());
  }

  Opened Open(uint16_t file) {
    uint8_t result = 0;
    if (!files.OpenFile(address, kLogDrive, file, false, result)) return Opened::kUnreadable;
    return result == 0 ? Opened::kOpen : Opened::kAbsent;
  }

  void CloseOnUnit(uint16_t file) {
    uint8_t result = 0;
    files.CloseFile(address, kLogDrive, file, result);
  }

  // Copies the open file's blocks into `output` until the end of the file,
  // the first failure or `limit` bytes; each block without its trailing
  // zero bytes. False when a read failed before the end (what came is not
  // the whole log); a write failure is kept by the output itself.
  bool CopyBlocks(uint16_t file, ExtractedFile& output) {
    Output& out = rt().out;
    LoweredReportLevel lowered(out);
    std::array<uint8_t, kFileBlockSize> block{};
    for (uint32_t offset = 0;;) {
      uint8_t length = kFileBlockSize;
      if (!files.ReadFileRemote(address, kLogDrive, file, offset, length, block.data())) {
        out.Print(Sink::kDebug, "ReadFileRemote failed\r\n");
        return false;
      }
      if (length == 0) return true;
      if (offset >= limit) {
        out.Print(Sink::kInfo, "-- copy stopped at ", limit,
                  " bytes: the unit sends more than its flash holds\r\n");
        // What came is kept, but the log is not whole: the run says so at
        // its end.
        ++unsaved;
        return true;
      }
      size_t kept = length;
      while (kept > 0 && block[kept - 1] == 0) --kept;
      if (!output.Write(block.data(), kept)) {
        out.Print(Sink::kDebug, "OSWriteFile failed\r\n");
        return true;
      }
      offset += length;
    }
  }

  // The configuration or crash log into a file of its own.
  void CopyLog(uint16_t file, const LogKind& kind) {
    Output& out = rt().out;
    const Opened opened = Open(file);
    if (opened != Opened::kOpen) {
      out.Print(Sink::kInfo, opened == Opened::kAbsent ? kind.absent : kind.unreadable);
      if (opened == Opened::kUnreadable) ++unsaved;
      return;
    }
    out.Print(Sink::kInfo, "Uploading file: ", Hex(file, 4), "\r\n");
    TransferMeter meter;
    meter.Start(rt().clock.Ticks(), files.link().port);
    PrepareFolder();
    const std::string path = PathFor(kind.prefix);
    out.Print(Sink::kInfo, "Saving to \"", path, "\"\r\n");
    ExtractedFile output;
    CreateOutput(output, path);
    const bool whole = CopyBlocks(file, output);
    FinishOutput(output, whole);
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
    bool whole = true;
    for (size_t k = 0; k < numbers.size() && whole; ++k) {
      const uint16_t number = numbers[k];
      out.Print(Sink::kDebug, "Uploading file=", Hex(number, 4), "\r\n");
      bar.Advance(out, k == 0 ? 0 : 1);
      const Opened opened = Open(number);
      if (opened == Opened::kOpen) {
        TransferMeter meter;
        meter.Start(rt().clock.Ticks(), files.link().port);
        whole = CopyBlocks(number, output);
        CloseOnUnit(number);
        meter.ReportReceived(out, rt().clock.Ticks(), files.link().port);
      } else if (opened == Opened::kAbsent) {
        out.Print(Sink::kDebug, "-- file not found\r\n");
      } else {
        out.Print(Sink::kInfo, "-- debug log ", Hex(number, 4), " could not be read\r\n");
        whole = false;
      }
      output.Write(kLineEnd, sizeof kLineEnd);
      // The file is lost already; its other logs are not read for nothing.
      if (!output.writeError().empty()) break;
    }
    // The row of dots ends before anything is said about the file.
    out.Print(Sink::kConsole, "\r\n");
    bar.Reset();
    FinishOutput(output, whole);
  }
};

// The listing stops at the first remote unit that does not answer, which
// is said; false then.
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
    if (!ReadUnitInfo(link, remote)) {
      out.Print(Sink::kInfo, "Ponderix Unit ", address, kNothingCopied);
      return false;
    }
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

// The summary's outcome for one unit's copying.
std::string CopiedOutcome(int saved, int unsaved) {
  std::string outcome = "logs saved " + std::to_string(saved);
  if (unsaved > 0) outcome += ", " + std::to_string(unsaved) + " not saved";
  return outcome;
}

// Copies one unit's logs; `saved` gets the number of files saved whole.
// False when the unit did not answer.
bool CopyUnitLogs(RemoteFileAccess& files, UnitInfo& unit, const std::string& folder,
                  const BeforeFatal& beforeFatal, int& unsaved, int& saved) {
  Link& link = files.link();
  Output& out = link.runtime.out;
  out.Print(Sink::kDebug, "ExtractLogFilesFromUnit=", unit.unitAddress, "\r\n");
  if (!ReadUnitInfo(link, unit)) {
    out.Print(Sink::kInfo, "Ponderix Unit ", unit.unitAddress, kUnitNotCopied);
    ++unsaved;
    return false;
  }
  ReadExtendedInfo(link, unit);
  ReadAdvancedInfo(link, unit);
  PrintUnitInfo(out, unit);
  if (unit.softwareVersion < kFirstLogSoftware) return true;

  Extraction extraction{files,       unit.unitAddress, folder, UnitTag(unit),
                        beforeFatal, LogLimit(unit),   unsaved};
  out.Print(Sink::kInfo, "Checking for configuration log...\r\n");
  extraction.CopyLog(kConfigurationLogFile, kConfigurationLog);
  out.Print(Sink::kInfo, "Checking for crash log...\r\n");
  extraction.CopyLog(kCrashLogFile, kCrashLog);

  out.Print(Sink::kInfo, "Checking for debug logs...\r\n");
  std::vector<uint16_t> numbers;
  if (!GetDebugLogs(link, unit, numbers)) {
    out.Print(Sink::kInfo, "-- the debug logs could not be read\r\n");
    ++unsaved;
  } else if (numbers.empty()) {
    out.Print(Sink::kInfo, "-- no debug log found\r\n");
  } else {
    extraction.CopyDebugLogs(numbers);
  }
  saved = extraction.saved;
  return true;
}

// A job that could not save every log says so last and ends the run with
// the exit code for an incomplete run, so that a script does not take the
// logs as saved.
void ReportUnsaved(Runtime& rt, int unsaved) {
  if (unsaved == 0) return;
  rt.PrintLastLine(kNotAllSaved);
  rt.EndUnfinished(Runtime::kExitIncomplete, kNotAllSaved);
}

}  // namespace

std::string UnitTag(const UnitInfo& unit) {
  return SafeNamePart(ZeroPadded(unit.modbusAddress, 2) + " PX" + std::to_string(unit.productWord) +
                      " " + CardShortName(unit.cardNumber) + " " +
                      std::to_string(unit.serialNumber));
}

void ExtractLogs(RemoteFileAccess& files, UnitInfo& connected, const std::string& folder,
                 std::vector<SummaryLine>* copied) {
  Link& link = files.link();
  Runtime& rt = link.runtime;
  std::vector<uint8_t> addresses;
  if (connected.connectionMode != modeApplication ||
      connected.softwareVersion < kFirstNetworkSoftware) {
    return;
  }
  if (!ListRemoteUnits(link, addresses)) {
    rt.out.Print(Sink::kInfo, "The Ponderix units could not be listed: no logs were copied\r\n");
    ReportUnsaved(rt, 1);
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
      const int unsavedBefore = unsaved;
      int saved = 0;
      const bool answered = CopyUnitLogs(files, unit, folder, speedBack, unsaved, saved);
      if (copied != nullptr) {
        copied->push_back(SummaryLineFor(
            unit, answered ? CopiedOutcome(saved, unsaved - unsavedBefore) : "failed"));
      }
      rt.out.Print(Sink::kInfo, "\r\n");
    }
  } else {
    ++unsaved;
  }
  if (!SetUnitSpeed(link, connected, remembered)) rt.FatalError("Unable to change baud rate");
  ReportUnsaved(rt, unsaved);
}

void ExtractLogFilesFromUnit(RemoteFileAccess& files, UnitInfo& unit, const std::string& folder) {
  int unsaved = 0;
  int saved = 0;
  CopyUnitLogs(files, unit, folder, {}, unsaved, saved);
  ReportUnsaved(files.link().runtime, unsaved);
}

}  // namespace kel
