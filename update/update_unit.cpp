#include "update/update_unit.h"

#include <span>
#include <string>

#include "files/file_updates.h"
#include "flash/backup_fields.h"
#include "flash/flash_writer.h"
#include "flash/image_selection.h"
#include "flash/programmer_control.h"
#include "runtime/version.h"
#include "unit/boot_loader_entry.h"
#include "unit/rpc_identification.h"
#include "unit/rpc_reset.h"
#include "unit/update_acceptance.h"
#include "unit/version_text.h"
#include "update/programmer_start.h"
#include "update/unit_file_sets.h"
#include "update/unit_type_prompt.h"
#include "update/update_rules.h"

namespace kel {

namespace {

constexpr int kQuietPings = 20;

// Where update files go in the unit's drives.
constexpr uint8_t kUpdateDrive = 1;
constexpr uint16_t kBootLoaderUpdateFile = 0x102;
constexpr uint16_t kSoftwareUpdateFile = 0x103;
constexpr uint8_t kProgrammerDrive = 193;
constexpr uint16_t kProgrammerFile = 0;

std::string NewVersionText() { return FormatVersion(kNewSoftwareVersion, kNewSoftwareRelease); }

std::span<const uint8_t> Bytes(const ImageRef& image) { return {image.bytes, image.size}; }

// What one run decided and did.
struct UpdatePlan {
  bool bootLoader = false;
  bool software = false;
  bool updateFiles = false;
  bool changed = false;
};

// The unit's application answers every frame it sees; pinging its own
// address until it replies keeps it from talking over the update.
void KeepUnitQuiet(Link& link, const UnitInfo& unit) {
  if (unit.connectionMode != modeApplication) return;
  link.runtime.out.Print(Sink::kDebug, "Keep unit from driving port\r\n");
  for (int i = 0; i < kQuietPings; ++i) {
    if (Ping(link, link.runtime.options.unitId)) break;
  }
}

// Update files over a USB virtual COM port (the unit cannot enter its boot
// loader there); otherwise, for a direct update, the unit's boot loader.
void ChooseTransport(UpdateSession& session, UnitInfo& unit, UpdatePlan& plan) {
  Runtime& rt = session.runtime();
  if (IsVComPort(session.link, unit)) {
    rt.out.Print(Sink::kInfo, "-- vcom port detected, using update files", "\r\n");
    if (!AcceptsUpdateFiles(rt.out, unit)) {
      rt.FatalError("The unit does not support Update files, which are required on a vcom port");
    }
    plan.updateFiles = true;
    return;
  }
  if (plan.updateFiles) return;
  if (!InitialiseForUpdate(session.link, unit)) rt.FatalError("Unable to initialise Ponderix unit");
  if (unit.connectionMode != modePonderixBootLoader) {
    rt.out.Print(Sink::kDebug, "-- Software mode of unit is not modePonderixBootLoader\r\n");
  }
}

// Boards with test software: pre-production ones only on the production
// line, with the programmer the boot tool makes for them.
void HandleTestSoftware(UpdateSession& session, UnitInfo& unit, UpdatePlan& plan) {
  Runtime& rt = session.runtime();
  constexpr char kTestSoftwareLine[] =
      "-- updating boot loader because test software is present\r\n";
  if (IsPreProductionBoard(unit, plan.updateFiles)) {
    if (!rt.options.manufacturingMode) {
      Reset(session.link, unit);
      rt.FatalError("Cannot update this unit (pre-production board)");
    }
    rt.out.Print(Sink::kDebug, "-- loading flash programmer from KelBoot\r\n");
    LoadProgrammerFromBootTool(rt, unit, session.bootToolProgrammer);
    rt.out.Print(Sink::kDebug, kTestSoftwareLine);
    plan.bootLoader = true;
  } else if (HasTestSoftware(unit)) {
    rt.out.Print(Sink::kDebug, kTestSoftwareLine);
    plan.bootLoader = true;
  }
}

void DecideSoftware(Runtime& rt, const UnitInfo& unit, UpdatePlan& plan) {
  rt.out.Print(Sink::kDebug, "New software version= ", NewVersionText(), "\r\n");
  rt.out.Print(Sink::kDebug, "Current software version= ",
               FormatVersion(unit.softwareVersion, unit.softwareRelease), "\r\n");
  const std::string reason =
      SoftwareReason(unit, [&] { return CompareSoftwareChecksum(rt, unit); });
  if (!reason.empty()) {
    rt.out.Print(Sink::kDebug, "-- updating ponderix software because ", reason, "\r\n");
    plan.software = true;
  }
  if (rt.options.writeAlways) {
    if (!plan.software) {
      rt.out.Print(Sink::kDebug,
                   "-- updating ponderix software because -w command line option specified\r\n");
    }
    plan.software = true;
  }
}

void PrintSummary(Output& out, const UpdatePlan& plan) {
  if (plan.bootLoader) out.Print(Sink::kInfo, "-- ponderix boot loader will be updated\r\n");
  if (plan.software) {
    out.Print(Sink::kInfo, "-- ponderix software will be updated to ", NewVersionText(), "\r\n");
  } else {
    out.Print(Sink::kInfo, "-- ponderix software is already the correct version\r\n");
  }
}

void SelectSoftware(Runtime& rt, UnitInfo& unit) {
  if (!rt.options.silent) {
    static constexpr const char* kTypeNames[] = {"Display", "Transmitter", "IOUnit"};
    if (unit.unitType >= unitTypeDisplay && unit.unitType <= unitTypeIOUnit) {
      rt.out.Print(Sink::kDebug, "-- selected unit is a ", kTypeNames[unit.unitType - 1], "\r\n");
    }
  }
  SelectSoftwareImage(unit);
  if (unit.softwareImage == nullptr) rt.FatalError("No new software can be found for this unit");
}

// Writes one image into the MCU's flash through the running programmer,
// keeping the backup fields, and readies the programmer for the next one.
void WriteImage(UpdateSession& session, UnitInfo& unit, const ImageRef& image) {
  Runtime& rt = session.runtime();
  const WriteBackHook keepBackup = [&session](UnitInfo& written) {
    return WriteBackupFields(session.link, session.transfer, written);
  };
  if (!WriteFlash(session.link, session.transfer, unit, image, keepBackup)) {
    rt.FatalError("Unable to write new software");
  }
  if (!ResetProgrammer(session.link, unit)) rt.FatalError("Unable to reset flash programmer");
}

void SendImage(UpdateSession& session, const UnitInfo& unit, const char* line, uint16_t file,
               const ImageRef& image, UpdatePlan& plan) {
  Runtime& rt = session.runtime();
  rt.out.Print(Sink::kInfo, line);
  if (!SendUpdateFile(session.files, unit, kUpdateDrive, file, Bytes(image),
                      CheckMode::kFletcher)) {
    rt.FatalError("Unable to update unit\r\n");
  }
  plan.changed = true;
}

void WriteBootLoaderAndSoftware(UpdateSession& session, UnitInfo& unit, UpdatePlan& plan) {
  Runtime& rt = session.runtime();
  if (!plan.updateFiles) StartFlashProgrammer(session, unit);
  ChooseBootLoaderImage(rt, unit);
  SelectSoftware(rt, unit);
  if (!plan.updateFiles && !ReadBackupFields(session.link, session.transfer, unit)) {
    rt.FatalError("Unable to read from MCU flash memory");
  }
  if (plan.bootLoader) {
    if (unit.bootLoaderImage == nullptr) rt.FatalError("Unknown ponderix unit");
    if (plan.updateFiles) {
      SendImage(session, unit, "Sending boot loader update to unit...\r\n", kBootLoaderUpdateFile,
                *unit.bootLoaderImage, plan);
    } else {
      rt.out.Print(Sink::kInfo, "Preparing to update Boot Loader...\r\n");
      WriteImage(session, unit, *unit.bootLoaderImage);
    }
  }
  if (plan.software) {
    if (plan.updateFiles) {
      SendImage(session, unit, "Sending software update to unit...\r\n", kSoftwareUpdateFile,
                *unit.softwareImage, plan);
    } else {
      WriteImage(session, unit, *unit.softwareImage);
      unit.softwareWritten = true;
    }
  }
}

// A unit that took update files needs a programmer of its own kind to
// apply them; it is sent only when there is something to apply.
void SendProgrammer(UpdateSession& session, const UnitInfo& unit) {
  Runtime& rt = session.runtime();
  rt.out.Print(Sink::kInfo, "Sending flash programmer to unit...\r\n");
  if (unit.flashProgrammer == nullptr ||
      !SendUpdateFile(session.files, unit, kProgrammerDrive, kProgrammerFile,
                      Bytes(*unit.flashProgrammer), CheckMode::kCrc)) {
    rt.FatalError("Unable to update unit\r\n");
  }
}

}  // namespace

bool UpdateUnit(UpdateSession& session, UnitInfo& unit, bool updateBootLoader, bool updateFiles,
                bool confirm) {
  Runtime& rt = session.runtime();
  Output& out = rt.out;
  if (session.history) session.history->Begin(unit);
  if (unit.mcuType == mcuH8S2145) {
    rt.FatalError(
        "This version of KelUpdater is unable to update the software in old H8 units. Please use "
        "the older KelUpdater");
  }
  AskUnitType(rt, unit);
  if (confirm && !rt.AskYesNo("Do you wish to upgrade this Ponderix unit?")) {
    // Declined before anything was done: no row for the unit.
    rt.onFatalError = nullptr;
    rt.exit.Exit(kExitDeclined);
  }
  KeepUnitQuiet(session.link, unit);

  UpdatePlan plan;
  plan.updateFiles = updateFiles;
  ChooseTransport(session, unit, plan);
  HandleTestSoftware(session, unit, plan);
  if (!SelectFlashProgrammer(rt, unit, plan.updateFiles)) {
    rt.FatalError("Cannot update this unit (incompatible boot loader)");
  }
  if (!plan.bootLoader) {
    const std::string reason = BootLoaderReason(rt.options, unit, updateBootLoader);
    if (!reason.empty()) {
      out.Print(Sink::kDebug, "-- updating boot loader ", reason, "\r\n");
      plan.bootLoader = true;
    }
  }
  if (RefusesDowngrade(unit)) {
    out.Print(Sink::kInfo, "The software cannot be downgraded to ", NewVersionText(), "\r\n");
    if (session.history) {
      session.history->Refused(unit, "The software cannot be downgraded to " + NewVersionText());
    }
    return false;
  }
  DecideSoftware(rt, unit, plan);
  PrintSummary(out, plan);

  if (plan.bootLoader || plan.software) WriteBootLoaderAndSoftware(session, unit, plan);
  const UnitFilesWritten files = UpdateUnitFiles(session, unit, plan.updateFiles);
  plan.changed = files.forUpdater || plan.changed;
  if (plan.updateFiles && plan.changed) {
    SendProgrammer(session, unit);
    ++session.unitsAwaitingRestart;
  }
  if (session.history) {
    session.history->WentThrough(unit, plan.bootLoader, plan.software, plan.changed,
                                 plan.updateFiles, files.fieldbus);
  }
  return true;
}

}  // namespace kel
