#pragma once

#include "files/remote_file_access.h"
#include "flash/boot_tool_programmer.h"
#include "flash/transfer_state.h"
#include "link/link_state.h"
#include "update/update_history.h"
#include "update/update_note.h"

namespace kel {

/// What an update works with beside the unit record: the link, the
/// transfer windows of the programmer download and the flash writes, the
/// open-file state of the file services, and the buffer a programmer from
/// the boot tool is read into. All owned by the job (one per run) or a test.
struct UpdateSession {
  Link& link;
  TransferState& transfer;
  RemoteFileAccess& files;
  BootToolProgrammer& bootToolProgrammer;
  /// Where each unit's outcome is recorded; none in runs that keep no
  /// history.
  UpdateHistory* history = nullptr;
  /// The folder of the run's records (logs, update history): a copy of a
  /// unit's backup fields is kept there while its boot loader is written.
  /// None when empty.
  std::string recordFolder = {};
  /// The port's programmer note, kept in step with this run's direct update.
  UpdateNote note = {};
  /// The copy of a unit's backup fields an earlier, cut-short run kept, when
  /// this run writes them back from it: deleted once they are back.
  std::string adoptedBackupCopy = {};
  /// Units that took update files with something to apply at their next
  /// restart (a fieldbus file alone applies at once).
  int unitsAwaitingRestart = 0;

  Runtime& runtime() { return link.runtime; }
};

}  // namespace kel
