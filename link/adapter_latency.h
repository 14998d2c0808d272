#pragma once

#include <cstdint>
#include <string>

namespace kel {

/// The most latency an adapter may add before transfers are said to be
/// slower: every exchange with a unit waits for the adapter's timer.
inline constexpr uint32_t kAcceptableAdapterLatencyMs = 2;

/// What the program says once when the USB adapter of COM`port` holds
/// received bytes for `ms` milliseconds before passing them on, with the
/// setting that changes it; empty when `ms` is acceptable.
std::string AdapterLatencyNote(int port, uint32_t ms, const std::string& setting);

}  // namespace kel
