#pragma once

// The parts of the Win32 serial device that hold for any handle opened for
// overlapped I/O, reachable by its tests on a named pipe: a COM port cannot
// be made to fail a write or to hold a read under wine, a pipe can.

#include <windows.h>

#include <memory>

#include "platform/serial_device.h"

namespace kel {

/// A serial device over `handle`, which it owns from now on. Only the write
/// queue, the way out and the parts that need no COM port work on a handle
/// that is none.
std::unique_ptr<SerialDevice> OverlappedHandleDevice(HANDLE handle);

/// Ends the pending overlapped read `ov` on `h`: waits up to `boundMs` for
/// it and cancels that read alone if it has not ended by then, so writes
/// still queued on the handle and the wait for line events go on. Returns
/// the bytes read, 0 for a read that ended without bytes (end of file,
/// cancelled), or -1 with the system's code in `error`.
int FinishPendingRead(HANDLE h, OVERLAPPED& ov, DWORD boundMs, DWORD& error);

}  // namespace kel
