#include "update/update_unit.h"

#include <optional>
#include <span>
#include <string>

#include "files/file_updates.h"
#include "flash/backup_fields.h"
#include "flash/flash_writer.h"
#include "flash/image_selection.h"
#include "flash/programmer_control.h"
#include "link/packet_layer.h"
#include "runtime/held_stops.h"
#include "runtime/version.h"
#include "unit/boot_loader_entry.h"
#include "unit/link_speed.h"
#include "unit/programmer_probe.h"
#include "unit/rpc_boot_loader.h"
#include "unit/rpc_buffer_size.h"
#include "unit/rpc_identification.h"
#include "unit/rpc_reset.h"
#include "unit/update_acceptance.h"
#include "unit/version_text.h"
#include "platform/files.h"
#include "update/backup_fields_file.h"
#include "update/programmer_start.h"
#include "update/unit_file_sets.h"
#include "update/unit_type_prompt.h"
#include "update/update_rules.h"

namespace kel {

namespace {

constexpr int kQuietPings = 20;
// The boot loader is sent whole up to this many times before the run gives
// up (and leaves the unit in its programmer for the next run to finish).
constexpr int kBootLoaderRounds = 2;

constexpr char kStopHeldLine[] =
    "-- stop received: the boot loader is written whole first (do not turn off the power!)\r\n";
constexpr char kBootLoaderNotWhole[] =
    "The boot loader could not be written completely. Do not switch the unit off: run "
    "KelUpdater again to finish the update.\r\n";
// The fatal texts of the boot-loader write: what a production script reads
// in the parameter file must tell it not to have the unit switched off.
constexpr char kBootLoaderNotWholeMessage[] =
    "Unable to write new boot loader: do not switch the unit off, run KelUpdater again";
constexpr char kWriteBackRefused[] = "Unable to write the backup fields back";
constexpr char kNotTheNotedUnit[] =
    "The unit running its flash programmer is not the one this computer's note of the earlier "
    "run names. Do not switch the unit off: run KelUpdater again on the computer that started "
    "the update.\r\n";

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
      rt.FatalError(kVcomNeedsUpdateFiles);
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
      rt.FatalError(kPreProductionRefusal);
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
  if (unit.softwareImage == nullptr) rt.FatalError(kNoSoftwareRefusal);
}

WriteBackHook KeepBackupFields(UpdateSession& session) {
  return [&session](UnitInfo& written) {
    return WriteBackupFields(session.link, session.transfer, written);
  };
}

// Writes one image into the MCU's flash through the running programmer,
// keeping the backup fields, and readies the programmer for the next one.
void WriteImage(UpdateSession& session, UnitInfo& unit, const ImageRef& image) {
  Runtime& rt = session.runtime();
  if (!WriteFlash(session.link, session.transfer, unit, image, KeepBackupFields(session))) {
    rt.FatalError("Unable to write new software");
  }
  if (!ResetProgrammer(session.link, unit)) rt.FatalError("Unable to reset flash programmer");
}

// The backup fields to write back after the first flash block: read from
// the unit, except after an earlier run was cut short in the middle of its
// boot loader, whose own copy of them (read before its erase) is taken when
// it is there and this user's. Either way the note records their check.
void TakeBackupFields(UpdateSession& session, UnitInfo& unit, const NotedProgrammer* cutShort) {
  Runtime& rt = session.runtime();
  BackupRegion region;
  const bool fields = unit.backupEnabled && BackupRegionOf(unit.mcuType, region);
  BackupFieldsFile earlier(session.recordFolder, unit);
  if (fields && cutShort != nullptr && !cutShort->keptCopy.empty() &&
      earlier.Adopt(cutShort->keptCopy, session.transfer.backup.bytes.data(), region.size())) {
    rt.out.Print(Sink::kDebug, "-- backup fields taken from ", earlier.path(), "\r\n");
    session.adoptedBackupCopy = earlier.path();
  } else if (!ReadBackupFields(session.link, session.transfer, unit)) {
    rt.FatalError("Unable to read from MCU flash memory");
  }
  if (fields) {
    session.note.BackupFieldsRead(
        Crc16OfBuffer(session.transfer.backup.bytes.data(), region.size()));
  }
}

// The boot loader is written whole or the run ends without restarting the
// unit: half written, it would never start again. Stops wait until it is
// whole, a failed write is sent again from its start (in a fresh session
// of the programmer, which erases each sector again), and the backup fields
// read before the erase are kept in a file of their own until they are back.
void WriteBootLoader(UpdateSession& session, UnitInfo& unit, const ImageRef& image) {
  Runtime& rt = session.runtime();
  Output& out = rt.out;
  Link& link = session.link;
  TransferState& transfer = session.transfer;
  out.Print(Sink::kInfo, "Preparing to update Boot Loader...\r\n");
  BackupFieldsFile kept(session.recordFolder, unit);
  BackupRegion region;
  const bool fields = unit.backupEnabled && BackupRegionOf(unit.mcuType, region);
  std::string keptError;
  bool keptCopy = false;
  if (fields) {
    for (const std::string& older : kept.EarlierCopies()) {
      if (older == session.adoptedBackupCopy) continue;
      out.Print(Sink::kInfo, "-- an earlier copy of this unit's backup fields is kept in ", older,
                "\r\n");
    }
    keptCopy = kept.Keep(transfer.backup.bytes.data(), region.size(), keptError);
    if (keptCopy) {
      session.note.BackupFieldsKept(kept.name());
    } else {
      out.Print(Sink::kDebug, "-- the backup fields are not kept in a file: ", keptError, "\r\n");
    }
  }

  HeldStops held(out, kStopHeldLine);
  transfer.progress.onAdvance = [&held] { held.Check(); };
  link.state.bootRegionIncomplete = true;
  session.note.BootLoaderUnderWay();
  for (int round = 0; round < kBootLoaderRounds && !transfer.imageWritten; ++round) {
    if (round > 0) {
      out.StartConsoleLine();
      out.Print(Sink::kInfo, "-- sending the whole boot loader again\r\n");
      transfer.ClearWindows();
      SetReceiveTimeout(link, kLongTimeoutMs);
      // Sectors written once are not written again without an erase: a
      // fresh session of the programmer erases each one at its first write.
      if (!ResetProgrammer(link, unit)) continue;
    }
    WriteFlash(link, transfer, unit, image, KeepBackupFields(session));
    held.Check();
  }
  transfer.progress.onAdvance = nullptr;
  if (!transfer.imageWritten) {
    out.StartConsoleLine();
    out.Print(Sink::kInfo, kBootLoaderNotWhole);
    rt.FatalError(kBootLoaderNotWholeMessage);
  }
  link.state.bootRegionIncomplete = false;
  session.note.BootLoaderWritten();
  if (transfer.writeBackFailed) {
    out.StartConsoleLine();
    if (keptCopy) {
      out.Print(Sink::kInfo, "The unit's backup fields as read before the update are kept in ",
                kept.path(), "\r\n");
      rt.FatalError(std::string(kWriteBackRefused) + ": they are kept in " + kept.path());
    }
    out.Print(Sink::kInfo, "The unit's backup fields could not be kept in a file: ", keptError,
              "\r\n");
    rt.FatalError(kWriteBackRefused);
  }
  // The fields are back in the unit: the copies of them can go.
  if (keptCopy) kept.Forget();
  if (!session.adoptedBackupCopy.empty()) DeleteFileAt(session.adoptedBackupCopy);
  session.adoptedBackupCopy.clear();
  held.Release();  // a stop that came meanwhile ends the run now
  if (!ResetProgrammer(link, unit)) rt.FatalError("Unable to reset flash programmer");
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

void WriteBootLoaderAndSoftware(UpdateSession& session, UnitInfo& unit, UpdatePlan& plan,
                                const NotedProgrammer* cutShort = nullptr) {
  Runtime& rt = session.runtime();
  if (!plan.updateFiles && unit.connectionMode != modeFlashProgrammer) {
    StartFlashProgrammer(session, unit, plan.bootLoader, plan.software);
  }
  ChooseBootLoaderImage(rt, unit);
  SelectSoftware(rt, unit);
  if (!plan.updateFiles) TakeBackupFields(session, unit, cutShort);
  if (plan.bootLoader) {
    if (unit.bootLoaderImage == nullptr) rt.FatalError(kUnknownUnitRefusal);
    if (plan.updateFiles) {
      SendImage(session, unit, "Sending boot loader update to unit...\r\n", kBootLoaderUpdateFile,
                *unit.bootLoaderImage, plan);
    } else {
      WriteBootLoader(session, unit, *unit.bootLoaderImage);
    }
  }
  if (plan.software) {
    if (plan.updateFiles) {
      SendImage(session, unit, "Sending software update to unit...\r\n", kSoftwareUpdateFile,
                *unit.softwareImage, plan);
    } else {
      WriteImage(session, unit, *unit.softwareImage);
      unit.softwareWritten = true;
      session.note.SoftwareWritten();
    }
  }
}

// Whether the programmer runs in the unit the note names, as far as the
// unit can tell: its backup fields (calibration and identity kept across
// updates) are what the earlier run read before its boot-loader write. A
// unit without them, fields not noted, or fields the cut-short write left
// erased tell nothing, and the note is taken.
bool IsTheNotedUnit(UpdateSession& session, UnitInfo& unit, const NotedProgrammer& noted) {
  BackupRegion region;
  if (noted.backupCheck < 0 || !unit.backupEnabled || !BackupRegionOf(unit.mcuType, region) ||
      !ReadBackupFields(session.link, session.transfer, unit)) {
    return true;
  }
  const uint8_t* fields = session.transfer.backup.bytes.data();
  bool erased = true;
  for (size_t i = 0; i < region.size(); ++i) erased = erased && fields[i] == 0xFF;
  return erased || Crc16OfBuffer(fields, region.size()) == noted.backupCheck;
}

// A unit found running the flash programmer of an earlier run that was cut
// short: what that run noted as still due is written through it (the boot
// loader first when it was under way), then the files, and the caller
// restarts the unit as after any direct update. No power cycle: a boot
// loader cut short would never start again.
bool FinishInProgrammer(UpdateSession& session, UnitInfo& unit, const NotedProgrammer& noted) {
  Runtime& rt = session.runtime();
  Link& link = session.link;
  rt.out.Print(Sink::kInfo,
               "-- the unit is running the flash programmer of an earlier run that was cut short: "
               "finishing its update\r\n");
  session.note.Adopt(link, noted);
  link.state.unitLeftIn = modeFlashProgrammer;
  const bool cutShort = noted.bootLoader == NotedProgrammer::BootLoader::kUnderWay;
  link.state.bootRegionIncomplete = cutShort;
  UpdatePlan plan;
  plan.bootLoader = noted.bootLoader != NotedProgrammer::BootLoader::kDone;
  plan.software = noted.softwareDue;
  // As after a download: the programmer's own buffer, and its set-up
  // through a proxy.
  GetBufferSize(link, unit);
  if (link.packets.proxy().on && !rpc::ConfigureProgrammer(link, 1)) {
    rt.FatalError("Unable to connect to programmer");
  }
  ChooseBootLoaderImage(rt, unit);
  if (!IsTheNotedUnit(session, unit, noted)) {
    rt.out.Print(Sink::kInfo, kNotTheNotedUnit);
    rt.FatalError(kProgrammerRunningMessage);
  }
  PrintSummary(rt.out, plan);
  if (plan.bootLoader || plan.software) {
    WriteBootLoaderAndSoftware(session, unit, plan, cutShort ? &noted : nullptr);
  }
  const UnitFilesWritten files = UpdateUnitFiles(session, unit, false);
  plan.changed = files.forUpdater;
  if (session.history) {
    session.history->WentThrough(unit, plan.bootLoader, plan.software, plan.changed, false,
                                 files.fieldbus);
  }
  return true;
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
    rt.FatalError(kOldH8Refusal);
  }
  AskUnitType(rt, unit);
  if (confirm && !rt.AskYesNo("Do you wish to upgrade this Ponderix unit?")) {
    // Declined before anything was done: no row for the unit, and no
    // summary line.
    rt.onFatalError = nullptr;
    rt.summaryLines = nullptr;
    rt.exit.Exit(kExitDeclined);
  }
  if (unit.connectionMode == modeFlashProgrammer) {
    const std::optional<NotedProgrammer> noted = NoteOfProgrammer(session.link);
    if (!noted) RefuseUnnotedProgrammer(session.link);
    return FinishInProgrammer(session, unit, *noted);
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
    out.Print(Sink::kInfo, kDowngradeRefusal, NewVersionText(), "\r\n");
    if (session.history) session.history->Refused(unit, kDowngradeRefusal + NewVersionText());
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
