#pragma once

// Reading the values of scenario keys: numbers (decimal or 0x hexadecimal),
// yes/no, versions, times and speeds. Each returns false for text that is
// not exactly such a value.

#include <array>
#include <cstdint>
#include <string>

namespace kel::sim {

/// The base of a number: 16 with a 0x prefix (after any sign), else 10; a
/// leading zero is not octal ("6.08" has a minor version of 8).
int NumberBase(const std::string& text);

std::string Trim(const std::string& s);
std::string Lower(std::string s);
bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t& out);
bool ParseSigned(const std::string& text, int64_t min, int64_t max, int64_t& out);
bool ParseYesNo(const std::string& text, bool& out);
/// "6.10r57" or "6.10": version in hundredths and release.
bool ParseVersion(const std::string& text, int16_t& version, uint8_t& release);
/// "4r18": boot-loader version and release.
bool ParseBootLoader(const std::string& text, uint8_t& version, uint8_t& release);
/// "2026-01-15 12:30:00" into yy mm dd hh mm ss.
bool ParseBuildTime(const std::string& text, std::array<uint8_t, 6>& out);
/// A line speed from 300 to 4000000 baud.
bool ParseSpeed(const std::string& text, int32_t& out);

}  // namespace kel::sim
