#pragma once

#include <cstdint>
#include <string>

#include "link/link_state.h"
#include "unit/programmer_note.h"
#include "unit/unit_info.h"

namespace kel {

/// Keeps the port's programmer note in step with a direct update, so that
/// a run cut short anywhere while the unit runs its flash programmer (a
/// stop, a killed run, a line that fails) leaves the next run what it needs
/// to finish the update through the programmer: the unit's identity and
/// what is still due. Started just before the programmer is downloaded,
/// rewritten as the boot loader and the software are written, removed when
/// the unit is restarted out of the programmer (Reset, the way out).
class UpdateNote {
 public:
  /// Notes `unit` with what is due: the boot loader, the software.
  void Start(Link& link, const UnitInfo& unit, bool bootLoader, bool software);
  /// Goes on from what an earlier run noted (the run finishes its update).
  void Adopt(Link& link, const NotedProgrammer& noted);

  /// The backup fields as read before the boot loader is written (their
  /// check), and the file they are kept in for that write.
  void BackupFieldsRead(uint16_t check);
  void BackupFieldsKept(const std::string& name);
  void BootLoaderUnderWay();
  void BootLoaderWritten();
  void SoftwareWritten();

  bool active() const { return link_ != nullptr; }

 private:
  void Write();

  Link* link_ = nullptr;
  NotedProgrammer noted_;
};

}  // namespace kel
