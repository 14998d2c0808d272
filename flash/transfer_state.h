#pragma once

#include <cstddef>

#include "flash/backup_copy.h"
#include "flash/chunk_window.h"
#include "flash/program_window.h"
#include "unit/progress_display.h"
#include "flash/write_window.h"
#include "runtime/options.h"

namespace kel {

/// The transfer settings and windows that the programmer download and the
/// flash writes share, beside the link's own (overlapped and buffered
/// transfer in LinkState, the proxy in ProxySettings, hardware handshaking
/// in LinkSettings). One per run, owned by main; a test makes a fresh one.
/// The windows are empty between transfers.
struct TransferState {
  explicit TransferState(const Options& options) : verify(options.verify) {}
  TransferState(const TransferState&) = delete;
  TransferState& operator=(const TransferState&) = delete;

  /// Read the programmer back after the download (-v); cleared for good
  /// together with overlapped transfer.
  bool verify = false;
  /// Most unacknowledged writes of the overlapped download: 8 with boot
  /// loaders from release 18, else 1.
  size_t windowLimit = 1;

  WriteWindow writeWindow;      ///< overlapped download
  ChunkWindow downloadChunks;   ///< buffered download
  ProgramWindow programWindow;  ///< windowed flash writes
  ChunkWindow programChunks;    ///< buffered flash writes
  ProgressDisplay progress;
  BackupCopy backup;

  /// How the last WriteFlash went: every record was written (whatever the
  /// write-back hook did), and the hook failed (the image was written whole
  /// all the same).
  bool imageWritten = false;
  bool writeBackFailed = false;

  /// Forgets what a failed transfer left in the windows, so that an image
  /// can be sent again from its start.
  void ClearWindows() {
    writeWindow.Clear();
    downloadChunks.Clear();
    programWindow.Clear();
    programChunks.Clear();
    programWindow.sequence = 0;
  }
};

}  // namespace kel
