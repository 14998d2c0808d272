#pragma once

#include <cstdint>

namespace kel {

/// Sets both line speeds of the terminal `fd` to `baudRate`, including
/// rates that have no B-constant (128000, 250000). False with errno set
/// (EINVAL when the device refuses or rounds the rate away).
bool SetLineSpeed(int fd, int32_t baudRate);
/// Reads the output speed of the terminal `fd`; false with errno set.
bool GetLineSpeed(int fd, int32_t& baudRate);

}  // namespace kel
