#pragma once

#include <cstdint>

namespace kel {

/// Sets both line speeds of the terminal `fd` to `baudRate`, including
/// rates that have no B-constant (128000, 250000). False with errno set
/// (EINVAL when the device refuses or rounds the rate away).
bool SetLineSpeed(int fd, int32_t baudRate);
/// Reads the output speed of the terminal `fd`; false with errno set.
bool GetLineSpeed(int fd, int32_t& baudRate);

/// A terminal's complete settings, speeds without a B-constant included,
/// kept to be put back when the program lets the terminal go.
struct TerminalSettings {
  alignas(8) unsigned char raw[128];
};
/// Reads the settings of the terminal `fd`; false with errno set.
bool SaveTerminalSettings(int fd, TerminalSettings& settings);
/// Puts saved settings back. One system call, so a signal handler may use it.
bool RestoreTerminalSettings(int fd, const TerminalSettings& settings);

}  // namespace kel
