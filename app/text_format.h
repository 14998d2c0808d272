#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kel {

/// `value` as `digits` upper-case hexadecimal digits with leading zeros.
std::string Hex(uint32_t value, int digits);
/// "$" followed by 8 upper-case hex digits: the form of addresses and offsets.
std::string HexAddress(uint32_t value);
/// Up to 17 bytes as two hex digits each, separated by single spaces, with
/// "..." appended when more bytes were left out. The form of trace lines.
std::string HexBytes(const uint8_t* data, size_t count);
/// The same bytes as characters, every byte below 32 shown as "_", "..."
/// after 17.
std::string PrintableBytes(const uint8_t* data, size_t count);
/// Decimal with at least `width` digits, leading zeros.
std::string ZeroPadded(long long value, int width);

}  // namespace kel
