#include "update/unit_plan.h"

#include <algorithm>
#include <cstdio>

#include "files/file_updates.h"
#include "flash/image_catalogue.h"
#include "flash/image_selection.h"
#include "flash/programmer_speed.h"
#include "flash/unit_files.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/card_table.h"
#include "unit/unit_summary.h"
#include "unit/update_acceptance.h"
#include "unit/version_text.h"
#include "update/resource_file.h"
#include "update/unit_file_sets.h"
#include "update/update_rules.h"

namespace kel {

namespace {

// Bits of one byte on the line: start, 8 data, no parity, 2 stop bits.
constexpr double kBitsPerByte = 11;
// Boards whose flags carry bit 7 need a programmer made by the boot tool.
constexpr uint8_t kTestBoardFlag = 0x80;
// Above this buffer a unit takes the large-packet programmer.
constexpr uint32_t kNormalBufferSize = 128;
// Boot loaders before this release take the old table of speed codes.
constexpr int kNewSpeedCodesRelease = 15;

std::string NewVersion() { return "v" + FormatVersion(kNewSoftwareVersion, kNewSoftwareRelease); }

uint32_t SizeOf(const char* catalogueName) {
  const ImageRef* image = CatalogueImage(catalogueName);
  return image != nullptr ? image->size : 0;
}

// The speed a direct update programs at: the chosen speed when the boot
// loader's table has it, else 115200 (as the speed change does).
int32_t ProgrammingSpeed(const Options& options, const UnitInfo& unit) {
  const std::span<const int32_t> speeds = ProgrammerSpeeds(
      unit.bootLoaderRelease != 0 && unit.bootLoaderRelease < kNewSpeedCodesRelease);
  const int32_t wanted = options.programmingBaudRate;
  return std::find(speeds.begin(), speeds.end(), wanted) != speeds.end() ? wanted : 115200;
}

// The flash programmer the update would choose, as its size, without
// ending the run: the refusal instead when the catalogue has none.
void PlanProgrammer(const UnitInfo& unit, bool updateFiles, UnitPlan& plan) {
  const int8_t version = unit.bootLoaderVersion;
  if (version != 3 && version != 4) {
    if (!updateFiles && version == 0 && unit.connectionMode == modeApplication) {
      // Software before 6.00 does not tell its boot loader.
      plan.programmerNote = "chosen once the unit is in its boot loader";
      return;
    }
    plan.refusal = kUnsupportedBootLoaderMessage;
    return;
  }
  if ((unit.bootFlags & kTestBoardFlag) || ((unit.unitFlags & kTestBoardFlag) && updateFiles)) {
    plan.programmerNote = "made by KelBoot for this board";
    return;
  }
  const ProgrammerEntry* entry =
      FindProgrammer(unit.mcuType, unit.unitType, version, unit.bufferSize > kNormalBufferSize);
  if (entry == nullptr) {
    plan.refusal = kNoProgrammerMessage;
    return;
  }
  plan.programmerBytes = SizeOf(entry->image);
}

void PlanBootLoader(Runtime& rt, const UnitInfo& unit, bool forced, UnitPlan& plan) {
  const std::string current = BootLoaderText(unit.bootLoaderVersion, unit.bootLoaderRelease);
  const bool known = unit.bootLoaderVersion != 0 || unit.connectionMode != modeApplication;
  std::string reason;
  if (IsPreProductionBoard(unit, plan.updateFiles) || HasTestSoftware(unit)) {
    reason = "test software is present";
  } else {
    reason = BootLoaderReason(rt.options, unit, forced);
  }
  if (reason.empty()) {
    plan.bootLoaderNote =
        "kept (" + (known ? current : "its version is read in the boot loader") + ")";
    return;
  }
  const BootLoaderEntry* entry = FindBootLoader(unit.mcuType, unit.unitType);
  if (entry == nullptr) {
    plan.refusal = kUnknownUnitRefusal;
    return;
  }
  plan.bootLoader = true;
  plan.bootLoaderNote =
      (known ? current + " -> release " + std::to_string(kNewestBootLoaderRelease)
             : "written when older than release " + std::to_string(kNewestBootLoaderRelease)) +
      " (" + reason + ")";
  plan.bytes += SizeOf(entry->image);
}

void PlanSoftware(Runtime& rt, const UnitInfo& unit, UnitPlan& plan) {
  const SoftwareEntry* entry = FindSoftware(unit.unitType, unit.mcuType);
  if (entry == nullptr) {
    plan.refusal = kNoSoftwareRefusal;
    return;
  }
  std::string reason = SoftwareReason(unit, [&] { return CompareSoftwareChecksum(rt, unit); });
  if (reason.empty() && rt.options.writeAlways) reason = "-w command line option specified";
  if (reason.empty()) {
    plan.softwareNote = "kept (" + SoftwareText(unit) + " is the current version)";
    return;
  }
  plan.software = true;
  plan.softwareNote = SoftwareText(unit) + " -> " + NewVersion() + " (" + reason + ")";
  plan.bytes += SizeOf(entry->image);
}

// The unit's files, compared one attributes request each where its
// application can answer for them.
void PlanFiles(RemoteFileAccess& files, UnitInfo& unit, UnitPlan& plan) {
  const UnitFileSet set = UnitFilesForCard(unit.cardNumber, unit.mcuType);
  plan.filesCompared = unit.connectionMode == modeApplication &&
                       unit.softwareVersion >= kNetworkSoftwareVersion &&
                       !ErasesOldDisplayFiles(unit, plan.updateFiles);
  auto add = [&](const char* kind, std::span<const UnitFile> unitFiles) {
    for (const UnitFile& file : unitFiles) {
      const std::span<const uint8_t> data(file.data, file.size);
      const bool differs = !plan.filesCompared || FileIsDifferent(files, unit, kUnitFileDrive,
                                                                  file.fileNumber, data, true);
      plan.files.push_back({kind, Hex(file.fileNumber, 4), file.size, differs});
    }
  };
  add("language", set.languageFiles);
  if (set.resourceFile) {
    std::vector<uint8_t> list;
    BuildResourceList(files.link().runtime.out, set.imageFiles, set.fontFiles, list);
    InvertBytes(list);
    const bool differs = !plan.filesCompared || FileIsDifferent(files, unit, kResourceFileDrive,
                                                                kResourceFileNumber, list, false);
    plan.files.push_back({"resource file", "", static_cast<uint32_t>(list.size()), differs});
  } else {
    add("image", set.imageFiles);
    add("font", set.fontFiles);
  }
  const size_t forUpdater = plan.files.size();
  add("fieldbus", set.fieldbusFiles);
  bool updaterFiles = false;
  for (size_t i = 0; i < plan.files.size(); ++i) {
    if (!plan.files[i].differs) continue;
    plan.bytes += plan.files[i].size;
    if (i < forUpdater) updaterFiles = true;
  }
  // Update files need the unit's own programmer to apply them; a fieldbus
  // file alone is taken as it is. A direct update downloads it for any
  // write, and for the files' comparison.
  const bool programmerGoes = plan.updateFiles ? plan.bootLoader || plan.software || updaterFiles
                                               : plan.bootLoader || plan.software || !set.empty();
  if (!programmerGoes) {
    plan.programmerBytes = 0;
    plan.programmerNote.clear();
  }
  plan.bytes += plan.programmerBytes;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", seconds);
  return text;
}

}  // namespace

UnitPlan PlanUnit(RemoteFileAccess& files, UnitInfo& unit, bool updateFiles, bool forceBootLoader,
                  int32_t linkSpeed) {
  Runtime& rt = files.link().runtime;
  UnitPlan plan;
  plan.updateFiles = updateFiles;
  plan.inBootLoader = unit.connectionMode == modePonderixBootLoader;
  plan.windowed = !updateFiles && files.link().state.overlappedActive;
  plan.baudRate = updateFiles ? linkSpeed : ProgrammingSpeed(rt.options, unit);
  if (unit.mcuType == mcuH8S2145) {
    plan.refusal = kOldH8Refusal;
    return plan;
  }
  if (IsPreProductionBoard(unit, updateFiles) && !rt.options.manufacturingMode) {
    plan.refusal = kPreProductionRefusal;
    return plan;
  }
  if (RefusesDowngrade(unit)) {
    plan.refusal = kDowngradeRefusal + FormatVersion(kNewSoftwareVersion, kNewSoftwareRelease);
    return plan;
  }
  PlanProgrammer(unit, updateFiles, plan);
  if (plan.refusal.empty()) PlanBootLoader(rt, unit, forceBootLoader, plan);
  if (plan.refusal.empty()) PlanSoftware(rt, unit, plan);
  if (plan.refusal.empty()) PlanFiles(files, unit, plan);
  if (!plan.refusal.empty()) plan.bytes = 0;
  return plan;
}

UnitPlan PlanUnitInProgrammer(RemoteFileAccess& files, UnitInfo& unit, bool bootLoaderDue,
                              bool softwareDue) {
  UnitPlan plan;
  plan.baudRate = files.link().port.settings().baudRate;
  const BootLoaderEntry* bootLoader = FindBootLoader(unit.mcuType, unit.unitType);
  const SoftwareEntry* software = FindSoftware(unit.unitType, unit.mcuType);
  if ((bootLoaderDue && bootLoader == nullptr) || (softwareDue && software == nullptr)) {
    plan.refusal =
        bootLoaderDue && bootLoader == nullptr ? kUnknownUnitRefusal : kNoSoftwareRefusal;
    return plan;
  }
  plan.bootLoader = bootLoaderDue;
  plan.bootLoaderNote = bootLoaderDue ? "written (still due from the earlier run)"
                                      : "kept (the earlier run wrote it or had none to write)";
  if (bootLoaderDue) plan.bytes += SizeOf(bootLoader->image);
  plan.software = softwareDue;
  plan.softwareNote = softwareDue ? NewVersion() + " written (still due from the earlier run)"
                                  : "kept (the earlier run wrote it or had none to write)";
  if (softwareDue) plan.bytes += SizeOf(software->image);
  PlanFiles(files, unit, plan);
  plan.programmerNote = "already running";
  return plan;
}

double PlannedSeconds(const UnitPlan& plan, bool verify) {
  if (plan.baudRate <= 0) return 0;
  const double seconds = static_cast<double>(plan.bytes) * kBitsPerByte / plan.baudRate;
  return verify ? 2 * seconds : seconds;
}

void PrintPlanHeading(Output& out, const UnitInfo& unit) {
  out.Print(Sink::kInfo, "Ponderix Unit ", unit.unitAddress, ": ",
            UnitIsKnown(unit) ? CardName(unit.cardNumber) : std::string("unknown unit"),
            unit.connectionMode == modePonderixBootLoader ? ", in its boot loader"
                                                          : ", software " + SoftwareText(unit),
            "\r\n");
}

void PrintUnitPlan(Output& out, const UnitPlan& plan, bool verify) {
  if (!plan.refusal.empty()) {
    std::string refusal = plan.refusal;
    while (!refusal.empty() && (refusal.back() == '\n' || refusal.back() == '\r')) {
      refusal.pop_back();
    }
    out.Print(Sink::kInfo, "   Refused         : ", refusal, "\r\n\r\n");
    return;
  }
  const char* transport = plan.updateFiles ? "update files, applied when the unit restarts"
                          : plan.inBootLoader
                              ? "direct: through the boot loader it runs, written by the flash "
                                "programmer"
                              : "direct: restarted into its boot loader, written by the flash "
                                "programmer";
  out.Print(Sink::kInfo, "   Transport       : ", transport,
            plan.windowed ? ", windowed writes" : "", " (", plan.baudRate, " baud)\r\n");
  out.Print(Sink::kInfo, "   Boot loader     : ", plan.bootLoaderNote, "\r\n");
  out.Print(Sink::kInfo, "   Software        : ", plan.softwareNote, "\r\n");
  // "language 01E0 01E1, resource file, fieldbus 01B0"
  size_t writing = 0;
  uint64_t fileBytes = 0;
  std::string names;
  std::string kind;
  for (const PlannedFile& file : plan.files) {
    if (!file.differs) continue;
    ++writing;
    fileBytes += file.size;
    if (file.kind != kind) {
      names += (names.empty() ? ": " : ", ") + file.kind;
      kind = file.kind;
    }
    if (!file.number.empty()) names += " " + file.number;
  }
  if (plan.files.empty()) {
    out.Print(Sink::kInfo, "   Files           : none for this unit\r\n");
  } else if (!plan.filesCompared) {
    out.Print(Sink::kInfo, "   Files           : all ", plan.files.size(), " (", fileBytes,
              " bytes) counted: they are compared once the update runs\r\n");
  } else {
    out.Print(Sink::kInfo, "   Files           : ", writing, " of ", plan.files.size(),
              " to write (", fileBytes, " bytes)", names, "\r\n");
  }
  if (plan.programmerBytes != 0) {
    out.Print(Sink::kInfo, "   Flash programmer: ", plan.programmerBytes, " bytes, ",
              plan.updateFiles ? "sent with the update files" : "downloaded into the unit's RAM",
              "\r\n");
  } else if (!plan.programmerNote.empty()) {
    out.Print(Sink::kInfo, "   Flash programmer: ", plan.programmerNote, "\r\n");
  }
  out.Print(Sink::kInfo, "   Time            : at least ", Seconds(PlannedSeconds(plan, verify)),
            " s for ", plan.bytes, " bytes at ", plan.baudRate, " baud",
            verify ? " (twice, to verify)" : "", "\r\n\r\n");
}

SummaryLine PlanSummaryLine(const UnitInfo& unit, const UnitPlan& plan) {
  SummaryLine line = SummaryLineFor(unit, "");
  line.after = plan.software ? NewVersion() : line.before;
  bool files = false;
  for (const PlannedFile& file : plan.files) files = files || file.differs;
  if (!plan.refusal.empty()) {
    line.outcome = "would be refused";
  } else if (plan.updateFiles && (plan.bootLoader || plan.software || plan.programmerBytes != 0)) {
    line.outcome = "would get update files";
  } else if (plan.bootLoader || plan.software || files) {
    line.outcome = "would be updated";
  } else {
    line.outcome = "up to date";
  }
  return line;
}

}  // namespace kel
