#pragma once

#include "update/update_session.h"

namespace kel {

/// Brings the unit's language, image, font and fieldbus files (and a KD4
/// display's resource file) up to date with the embedded ones, by card:
/// each file is compared and written only when it differs (always under
/// -w). Directly, the flash programmer is started first if it is not
/// running, and an old KD3 display's file drive is erased first because its
/// files do not suit the new software. With `updateFiles` the resource file
/// goes as an update file. What cannot be written ends the run.
struct UnitFilesWritten {
  /// A language, image, font or resource file: the unit's updater applies it.
  bool forUpdater = false;
  /// A fieldbus description file, which the unit takes as it is.
  bool fieldbus = false;
};
UnitFilesWritten UpdateUnitFiles(UpdateSession& session, UnitInfo& unit, bool updateFiles);

/// Whether a direct update empties the unit's file drive first (an LPC2478
/// KD3 display with software before 6.00), so that every file is written.
bool ErasesOldDisplayFiles(const UnitInfo& unit, bool updateFiles);

}  // namespace kel
