#include "sim/scenario_values.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace kel::sim {

int NumberBase(const std::string& text) {
  const size_t at = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  return text.size() > at + 1 && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X')
             ? 16
             : 10;
}

std::string Trim(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t& out) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, NumberBase(text));
  if (errno != 0 || *end != '\0' || v > max) return false;
  out = v;
  return true;
}

bool ParseSigned(const std::string& text, int64_t min, int64_t max, int64_t& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, NumberBase(text));
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < min || v > max) return false;
  out = v;
  return true;
}

bool ParseYesNo(const std::string& text, bool& out) {
  const std::string v = Lower(text);
  if (v == "yes" || v == "true" || v == "1" || v == "on") {
    out = true;
    return true;
  }
  if (v == "no" || v == "false" || v == "0" || v == "off") {
    out = false;
    return true;
  }
  return false;
}

// "6.10r57" or "6.10": version in hundredths and release.
bool ParseVersion(const std::string& text, int16_t& version, uint8_t& release) {
  const size_t dot = text.find('.');
  if (dot == std::string::npos || dot == 0) return false;
  const size_t r = text.find_first_of("rR", dot);
  const std::string major = text.substr(0, dot);
  const std::string minor =
      text.substr(dot + 1, r == std::string::npos ? std::string::npos : r - dot - 1);
  uint64_t ma = 0;
  uint64_t mi = 0;
  uint64_t re = 0;
  if (minor.size() != 2 || !ParseUnsigned(major, 327, ma) || !ParseUnsigned(minor, 99, mi))
    return false;
  if (r != std::string::npos && !ParseUnsigned(text.substr(r + 1), 255, re)) return false;
  version = static_cast<int16_t>(ma * 100 + mi);
  release = static_cast<uint8_t>(re);
  return true;
}

// "4r18": boot-loader version and release.
bool ParseBootLoader(const std::string& text, uint8_t& version, uint8_t& release) {
  const size_t r = text.find_first_of("rR");
  uint64_t v = 0;
  uint64_t re = 0;
  if (r == std::string::npos || !ParseUnsigned(text.substr(0, r), 15, v) ||
      !ParseUnsigned(text.substr(r + 1), 127, re)) {
    return false;
  }
  version = static_cast<uint8_t>(v);
  release = static_cast<uint8_t>(re);
  return true;
}

// "2026-01-15 12:30:00" into yy mm dd hh mm ss.
bool ParseBuildTime(const std::string& text, std::array<uint8_t, 6>& out) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6)
    return false;
  if (y < 2000 || y > 2099 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59 ||
      h < 0 || mi < 0 || s < 0) {
    return false;
  }
  out = {static_cast<uint8_t>(y - 2000), static_cast<uint8_t>(mo), static_cast<uint8_t>(d),
         static_cast<uint8_t>(h),        static_cast<uint8_t>(mi), static_cast<uint8_t>(s)};
  return true;
}

bool ParseSpeed(const std::string& text, int32_t& out) {
  uint64_t v = 0;
  if (!ParseUnsigned(text, 4000000, v) || v < 300) return false;
  out = static_cast<int32_t>(v);
  return true;
}

}  // namespace kel::sim
