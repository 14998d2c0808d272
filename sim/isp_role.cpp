#include "sim/isp_role.h"

namespace kel::sim {

namespace {

constexpr char kSynchronized[] = "Synchronized";
constexpr char kLineEnd[] = "\r\n";
constexpr char kOk[] = "OK\r\n";
constexpr char kSuccess[] = "0\r\n";
// Longest command line the ROM buffers; more is dropped.
constexpr size_t kMaxLine = 256;

// Handles one complete line (without its CR LF) after "?" was answered.
std::string HandleLine(SimUnit& unit, const std::string& line) {
  const std::string echo = line + kLineEnd;
  if (!unit.ispSynchronized) {
    if (line == kSynchronized) {
      unit.ispSynchronized = true;
      return echo + kOk;
    }
    // A wrong answer restarts the speed detection.
    unit.ispAutobaudSeen = false;
    return std::string();
  }
  if (!unit.ispFrequencySet) {
    unit.ispFrequencySet = true;
    return echo + kOk;
  }
  return echo + kSuccess;
}

}  // namespace

std::string HandleIspBytes(SimUnit& unit, const uint8_t* data, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    const char c = static_cast<char>(data[i]);
    if (!unit.ispAutobaudSeen) {
      if (c == '?') {
        unit.ispAutobaudSeen = true;
        unit.ispInput.clear();
        out += kSynchronized;
        out += kLineEnd;
      }
      continue;
    }
    if (c == '\n') {
      std::string line = unit.ispInput;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      unit.ispInput.clear();
      out += HandleLine(unit, line);
      continue;
    }
    if (unit.ispInput.size() < kMaxLine) unit.ispInput += c;
  }
  return out;
}

}  // namespace kel::sim
