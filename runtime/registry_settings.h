#pragma once

#include <string>

#include "platform/registry.h"

namespace kel {

/// The remembered COM port: the decimal number of the port on which the
/// last full port scan found a unit.
inline constexpr char kCommPortRegistryPath[] = "SOFTWARE\\Arkwend\\Ponderix\\CommPort";

/// Longest string value read back; a longer one reads as empty, as the
/// value does not fit the 257-byte buffer it is read into.
inline constexpr size_t kMaxRegistryStringLength = 256;

/// The string stored at `fullPath` (key path and value name, split at the
/// last backslash); empty when missing, not a string, too long or unreadable.
std::string ReadRegistryString(Registry& registry, const std::string& fullPath);

/// Stores `value` at `fullPath`; an empty value deletes it. Failures are
/// silent.
void WriteRegistryString(Registry& registry, const std::string& fullPath, const std::string& value);

}  // namespace kel
