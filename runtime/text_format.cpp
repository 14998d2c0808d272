#include "runtime/text_format.h"

#include <cctype>

namespace kel {

namespace {

// Trace lines show at most this many bytes of a transfer.
constexpr size_t kMaxTraceBytes = 17;
constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

std::string Hex(uint32_t value, int digits) {
  std::string text;
  do {
    text.insert(text.begin(), kHexDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(text.size()) < digits) {
    text.insert(0, static_cast<size_t>(digits) - text.size(), '0');
  }
  return text;
}

std::string HexAddress(uint32_t value) { return "$" + Hex(value, 8); }

std::string HexBytes(const uint8_t* data, size_t count) {
  std::string text;
  size_t shown = count < kMaxTraceBytes ? count : kMaxTraceBytes;
  for (size_t i = 0; i < shown; ++i) {
    if (i != 0) text += ' ';
    text += kHexDigits[data[i] >> 4];
    text += kHexDigits[data[i] & 0xF];
  }
  if (count > kMaxTraceBytes) text += "...";
  return text;
}

std::string PrintableBytes(const uint8_t* data, size_t count) {
  std::string text;
  size_t shown = count < kMaxTraceBytes ? count : kMaxTraceBytes;
  for (size_t i = 0; i < shown; ++i) {
    text += data[i] < 32 ? '_' : static_cast<char>(data[i]);
  }
  if (count > kMaxTraceBytes) text += "...";
  return text;
}

std::string ZeroPadded(long long value, int width) {
  bool negative = value < 0;
  // Work on the magnitude as unsigned so that the most negative value is safe.
  unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                          : static_cast<unsigned long long>(value);
  std::string digits = std::to_string(magnitude);
  int padWidth = negative ? width - 1 : width;
  if (static_cast<int>(digits.size()) < padWidth) {
    digits.insert(0, static_cast<size_t>(padWidth) - digits.size(), '0');
  }
  return negative ? "-" + digits : digits;
}

namespace {

// The number that leads `text` after blanks and a sign: whether any digit
// came, and its value, grown in 64 bits no further than past the 32-bit
// range, so any number of digits is safe.
struct LeadingNumber {
  bool digits = false;
  long long value = 0;
};

LeadingNumber ReadLeadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  constexpr long long kLimit = 1LL << 32;
  LeadingNumber number;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    number.digits = true;
    if (number.value < kLimit) number.value = number.value * 10 + (text[i] - '0');
  }
  if (negative) number.value = -number.value;
  return number;
}

}  // namespace

int32_t LeadingDecimal(std::string_view text) {
  const long long value = ReadLeadingNumber(text).value;
  if (value < INT32_MIN) return INT32_MIN;
  return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

bool LeadingDecimalIn(std::string_view text, int32_t low, int32_t high, int32_t& value) {
  const LeadingNumber number = ReadLeadingNumber(text);
  if (!number.digits || number.value < low || number.value > high) return false;
  value = static_cast<int32_t>(number.value);
  return true;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace kel
