#include "sim/faults.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "sim/scenario_values.h"

namespace kel::sim {

namespace {

struct KindName {
  FaultKind kind;
  const char* name;
};

constexpr KindName kKindNames[] = {
    {FaultKind::kDropReply, "drop-reply"},
    {FaultKind::kDropRequest, "drop-request"},
    {FaultKind::kCorruptByte, "corrupt"},
    {FaultKind::kPrependGarbage, "garbage"},
    {FaultKind::kLateReply, "late"},
    {FaultKind::kDoubleReply, "twice"},
    {FaultKind::kWrongCommand, "wrong-command"},
    {FaultKind::kHardwareFailure, "hardware-failure"},
    {FaultKind::kUnplug, "unplug"},
    {FaultKind::kRestart, "restart"},
    {FaultKind::kRestartAfter, "restart-after"},
    {FaultKind::kNoise, "noise"},
    {FaultKind::kTruncate, "truncate"},
    {FaultKind::kJunkAfter, "junk-after"},
    {FaultKind::kSilence, "silence"},
    {FaultKind::kPowerLoss, "power-loss"},
    {FaultKind::kDuplicate, "duplicate"},
    {FaultKind::kCtsLow, "cts-low"},
    {FaultKind::kStrayEcho, "stray-echo"},
    {FaultKind::kEchoPrevious, "echo-previous"},
};

// Whole-string unsigned number, decimal or 0x hexadecimal, at most `max`.
bool ParseNumber(const std::string& text, uint32_t max, uint32_t& out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, NumberBase(text));
  if (errno != 0 || end == text.c_str() || *end != '\0' || v > max) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

const char* FaultKindName(FaultKind kind) {
  for (const auto& k : kKindNames) {
    if (k.kind == kind) return k.name;
  }
  return "?";
}

bool IsRequestFault(FaultKind kind) {
  switch (kind) {
    case FaultKind::kDropRequest:
    case FaultKind::kUnplug:
    case FaultKind::kRestart:
    case FaultKind::kSilence:
    case FaultKind::kPowerLoss:
    case FaultKind::kRestartAfter:
    case FaultKind::kDuplicate:
    case FaultKind::kCtsLow:
      return true;
    default:
      return false;
  }
}

std::vector<FaultRule> FaultPlan::Match(const std::vector<uint8_t>& payload,
                                        const std::string& unitName, uint64_t request) {
  std::vector<FaultRule> hits;
  const int service = payload.size() > 1 ? payload[1] : -1;
  int command = -1;
  if (service == 0x45 && payload.size() >= 4) command = (payload[2] << 8) | payload[3];
  if (service == 0x47 && payload.size() >= 3) command = payload[2];
  if (service == 0x48 && payload.size() >= 4) command = payload[3];
  for (auto& rule : rules_) {
    if (rule.service >= 0 && rule.service != service) continue;
    if (rule.command >= 0 && rule.command != command) continue;
    if (!rule.unit.empty() && rule.unit != unitName) continue;
    if (request < rule.fromRequest) continue;
    ++rule.seen;
    if (rule.atPacket != 0 && rule.seen < rule.atPacket) continue;
    if (rule.times != 0 && rule.fired >= rule.times) continue;
    ++rule.fired;
    hits.push_back(rule);
  }
  return hits;
}

bool ParseFaultRule(const std::string& text, FaultRule& rule, std::string& error) {
  std::istringstream in(text);
  std::string word;
  if (!(in >> word)) {
    error = "fault without a kind";
    return false;
  }
  rule = FaultRule();
  bool known = false;
  for (const auto& k : kKindNames) {
    if (word == k.name) {
      rule.kind = k.kind;
      known = true;
    }
  }
  if (!known) {
    error = "unknown fault kind '" + word + "'";
    return false;
  }
  while (in >> word) {
    const size_t eq = word.find('=');
    if (eq == std::string::npos) {
      error = "fault option '" + word + "' is not key=value";
      return false;
    }
    const std::string key = word.substr(0, eq);
    const std::string value = word.substr(eq + 1);
    uint32_t n = 0;
    if (key == "unit") {
      if (value.empty()) {
        error = "fault option unit= needs a name";
        return false;
      }
      rule.unit = value;
      continue;
    }
    const uint32_t max = key == "service" ? 0xFF : key == "command" ? 0xFFFF : 0xFFFFFFFF;
    if (!ParseNumber(value, max, n)) {
      error = "fault option " + key + " has a bad number '" + value + "'";
      return false;
    }
    if (key == "service") {
      rule.service = static_cast<int>(n);
    } else if (key == "command") {
      rule.command = static_cast<int>(n);
    } else if (key == "at") {
      rule.atPacket = n;
    } else if (key == "request") {
      rule.fromRequest = n;
    } else if (key == "times") {
      rule.times = n;
    } else if (key == "value") {
      rule.value = n;
      rule.hasValue = true;
    } else {
      error = "unknown fault option '" + key + "'";
      return false;
    }
  }
  // A command names a 0x45 request unless a service says otherwise.
  if (rule.command > 0xFF && rule.service < 0) rule.service = 0x45;
  return true;
}

}  // namespace kel::sim
