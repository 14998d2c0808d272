#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "unit/unit_info.h"

namespace kel {

/// A copy of a unit's backup fields kept on the computer while its boot
/// loader is rewritten: the first flash block holds both, and a write-back
/// that the unit refuses, or a run cut short between the block's erase and
/// the write-back, would otherwise lose them. The file stands in the run's
/// record folder, is named after the unit's card and serial number
/// ("BackupFields-<card>-<serial>.bin") and only its owner may read it.
///
/// A copy an earlier run kept for the unit (whose write-back did not go
/// through) is older than anything read from the unit now: it is never
/// replaced, and it is the one a finished update writes back.
class BackupFieldsFile {
 public:
  /// `folder` empty: nothing is kept (runs without a record folder).
  BackupFieldsFile(const std::string& folder, const UnitInfo& unit);

  /// Keeps `size` bytes unless a copy of this unit's fields is there
  /// already. False when none is there afterwards (then `error` says why).
  bool Keep(const uint8_t* bytes, size_t size, std::string& error);
  /// Reads the kept copy into `bytes`; false when there is none of `size`
  /// bytes.
  bool Load(uint8_t* bytes, size_t size) const;
  /// Deletes the kept copy, once the unit holds its fields again.
  void Forget();

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace kel
