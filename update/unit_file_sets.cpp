#include "update/unit_file_sets.h"

#include <vector>

#include "files/file_updates.h"
#include "flash/unit_files.h"
#include "unit/rpc_programmer.h"
#include "update/programmer_start.h"
#include "update/resource_file.h"
#include "update/unit_file_lines.h"
#include "update/update_rules.h"

namespace kel {

namespace {

constexpr uint16_t kOldDisplayCard = 647;
// Where the unit collects a resource file sent as an update file.
constexpr uint16_t kResourceUpdateFile = 0x104;

// Compares one embedded file with the unit's and writes it, with its CRC,
// when it differs. True when it was written.
bool RefreshFile(UpdateSession& session, const UnitInfo& unit, UnitFileKind kind,
                 const UnitFile& file) {
  PrintUnitFileLine(session.runtime().out, kind, file);
  const std::span<const uint8_t> data(file.data, file.size);
  if (!FileIsDifferent(session.files, unit, kUnitFileDrive, file.fileNumber, data, true)) {
    return false;
  }
  if (!UpdateFile(session.files, unit, kUnitFileDrive, file.fileNumber, data, true)) {
    session.runtime().FatalError(UnitFileFailure(kind));
  }
  return true;
}

bool RefreshFiles(UpdateSession& session, const UnitInfo& unit, UnitFileKind kind,
                  std::span<const UnitFile> files) {
  bool written = false;
  for (const UnitFile& file : files) written = RefreshFile(session, unit, kind, file) || written;
  return written;
}

// The image and fonts of a KD4 display travel as one resource file, which
// the unit keeps inverted in its resource drive.
bool RefreshResourceFile(UpdateSession& session, const UnitInfo& unit, const UnitFileSet& set,
                         bool updateFiles) {
  Runtime& rt = session.runtime();
  std::vector<uint8_t> list;
  if (!BuildResourceList(rt.out, set.imageFiles, set.fontFiles, list)) {
    rt.FatalError("Cannot update unit resource file - too large");
  }
  InvertBytes(list);
  if (!FileIsDifferent(session.files, unit, kResourceFileDrive, kResourceFileNumber, list, false)) {
    return false;
  }
  bool written = false;
  if (updateFiles) {
    InvertBytes(list);
    written = SendUpdateFile(session.files, unit, kUnitFileDrive, kResourceUpdateFile, list,
                             CheckMode::kNone);
  } else {
    written = UpdateFile(session.files, unit, kResourceFileDrive, kResourceFileNumber, list, false);
  }
  if (!written) rt.FatalError("Unable to write new file");
  return true;
}

// An LPC2478 display with software before 6.00 keeps files the new software
// cannot read: its drive is emptied so that every file is written afresh.
void EraseOldDisplayFiles(UpdateSession& session) {
  Runtime& rt = session.runtime();
  rt.out.Print(Sink::kInfo, "Erasing files from old software version...\r\n");
  uint8_t result = 0;
  if (!rpc::EraseFms(session.link, kUnitFileDrive, result)) {
    rt.FatalError("Unable to erase files from old software version");
  }
}

}  // namespace

bool ErasesOldDisplayFiles(const UnitInfo& unit, bool updateFiles) {
  return !updateFiles && unit.cardNumber == kOldDisplayCard && unit.mcuType == mcuLPC2478 &&
         unit.softwareVersion < kNetworkSoftwareVersion;
}

UnitFilesWritten UpdateUnitFiles(UpdateSession& session, UnitInfo& unit, bool updateFiles) {
  const UnitFileSet set = UnitFilesForCard(unit.cardNumber, unit.mcuType);
  if (set.empty()) return {};
  Runtime& rt = session.runtime();
  if (!updateFiles && unit.connectionMode != modeFlashProgrammer) {
    StartFlashProgrammer(session, unit);
    ChooseBootLoaderImage(rt, unit);
  }
  if (ErasesOldDisplayFiles(unit, updateFiles)) EraseOldDisplayFiles(session);
  bool changed = RefreshFiles(session, unit, UnitFileKind::kLanguage, set.languageFiles);
  if (set.resourceFile) {
    changed = RefreshResourceFile(session, unit, set, updateFiles) || changed;
  } else {
    changed = RefreshFiles(session, unit, UnitFileKind::kImage, set.imageFiles) || changed;
    changed = RefreshFiles(session, unit, UnitFileKind::kFont, set.fontFiles) || changed;
  }
  // Fieldbus description files do not need the unit's updater.
  const bool fieldbus = RefreshFiles(session, unit, UnitFileKind::kFieldbus, set.fieldbusFiles);
  return {changed, fieldbus};
}

}  // namespace kel
