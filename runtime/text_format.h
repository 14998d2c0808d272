#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
/// The leading decimal number of `text`, read as the C library's atoi does
/// (leading blanks, an optional sign, then digits; anything after is
/// ignored), but saturating at the 32-bit limits instead of overflowing.
/// 0 when no digits lead.
int32_t LeadingDecimal(std::string_view text);
/// The leading decimal number of `text` as LeadingDecimal reads it, into
/// `value`, when digits lead (after blanks and a sign) and the number lies
/// within `low`..`high`; false for no digits or a number out of the range.
bool LeadingDecimalIn(std::string_view text, int32_t low, int32_t high, int32_t& value);
/// True when both texts are equal ignoring ASCII case.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace kel
