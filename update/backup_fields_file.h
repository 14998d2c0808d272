#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "unit/unit_info.h"

namespace kel {

/// A copy of a unit's backup fields kept on the computer while its boot
/// loader is rewritten: the first flash block holds both, and a write-back
/// that the unit refuses, or a run cut short between the block's erase and
/// the write-back, would otherwise lose them. Each boot-loader write keeps
/// its own copy in the run's record folder, named after the unit's card and
/// serial number and made unique ("BackupFields-<card>-<serial>-XXXXXX.bin");
/// only its owner may read it. A copy is deleted only once the fields are
/// back in the unit; a copy an earlier run kept stays where it is.
class BackupFieldsFile {
 public:
  /// `folder` empty: nothing is kept (runs without a record folder).
  BackupFieldsFile(const std::string& folder, const UnitInfo& unit);

  /// Keeps `size` bytes in a new file of this run's own. False when none
  /// could be made (then `error` says why).
  bool Keep(const uint8_t* bytes, size_t size, std::string& error);
  /// Takes the copy an earlier run kept under `name` (as its programmer
  /// note names it) into `bytes`: only a copy of this unit's, this user's
  /// own and private, of `size` bytes. False otherwise.
  bool Adopt(const std::string& name, uint8_t* bytes, size_t size);
  /// Deletes the copy, once the unit holds its fields again.
  void Forget();

  /// The copy's path and name; empty when there is none.
  const std::string& path() const { return path_; }
  std::string name() const;
  /// The copies earlier runs kept for this unit, by path.
  std::vector<std::string> EarlierCopies() const;

  /// True for a name such a copy of any unit can have.
  static bool IsCopyName(const std::string& name);

 private:
  std::string folder_;
  std::string prefix_;
  std::string path_;
};

}  // namespace kel
