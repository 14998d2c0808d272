#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "flash/unit_files.h"
#include "runtime/output.h"

namespace kel {

/// The room a KD4 display has for its resource file.
inline constexpr size_t kResourceFileCapacity = 4194304;

/// Packs `files` (the image first, then the fonts) into a resource list:
/// per file its number (2 bytes), size (4 bytes, both most significant
/// first), the data and the data's CRC-16 low byte first; two zero bytes
/// end the list when there is room for them. Each file is announced on the
/// debug sink. False when a file does not fit in `capacity`; `list` then
/// holds what fitted. The list is not inverted.
bool BuildResourceList(Output& out, std::span<const UnitFile> image,
                       std::span<const UnitFile> fonts, std::vector<uint8_t>& list,
                       size_t capacity = kResourceFileCapacity);

/// Inverts every byte: the unit's resource area holds the list that way.
void InvertBytes(std::vector<uint8_t>& bytes);

}  // namespace kel
