#pragma once

namespace kel {

/// Puts standard input's terminal back into the mode it had before the
/// console switched it to single-key input. Async-signal-safe (one
/// tcsetattr of a saved record); does nothing when the mode was never changed.
void RestoreTerminalFromSignal();

/// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed, so that
/// a file or port opened later can never land there and be taken for the
/// operator's keyboard or screen.
void EnsureStandardDescriptors();

}  // namespace kel
