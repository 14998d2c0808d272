#include "platform/reparse_tags.h"

namespace kel {

namespace {

// Bit 29 of a reparse tag marks a name surrogate (IsReparseTagNameSurrogate).
constexpr uint32_t kNameSurrogateBit = 0x20000000;

}  // namespace

bool ReparseTagIsLink(uint32_t tag) { return (tag & kNameSurrogateBit) != 0; }

}  // namespace kel
