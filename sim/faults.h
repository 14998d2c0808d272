#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kel::sim {

/// What a fault does to one exchange.
enum class FaultKind : uint8_t {
  kDropReply,        ///< the unit acts on the request but its reply is lost
  kDropRequest,      ///< the request never reaches the unit
  kCorruptByte,      ///< one byte of the reply is damaged (`value` = index, default the middle)
  kPrependGarbage,   ///< `value` noise bytes (default 1) go out before the reply
  kLateReply,        ///< the reply leaves `value` ms later (default 1500)
  kDoubleReply,      ///< the reply is sent twice
  kWrongCommand,     ///< the reply echoes another command
  kHardwareFailure,  ///< the reply's result field carries `value` (default 1)
  kUnplug,           ///< from this request on the unit answers nothing
  kRestart,          ///< the unit restarts instead of answering (`value` 1: into its boot loader)
};

/// One rule: which requests it hits and what it does to them.
struct FaultRule {
  FaultKind kind = FaultKind::kDropReply;
  int service = -1;        ///< request service byte (0x41, 0x45, 0x47, 0x48); -1 any
  int command = -1;        ///< 0x45 command (0x10xx) or G/H sub-command; -1 any
  std::string unit;        ///< name of the unit addressed; empty any
  uint32_t atPacket = 0;   ///< fire at the Nth matching request (1-based); 0 from the first
  uint32_t times = 1;      ///< how many times it fires; 0 without end
  uint32_t value = 0;      ///< kind-dependent amount (see FaultKind)
  bool hasValue = false;

  // Running state.
  uint32_t seen = 0;
  uint32_t fired = 0;
};

/// The faults planned for one simulated port.
class FaultPlan {
 public:
  void Add(const FaultRule& rule) { rules_.push_back(rule); }
  void Clear() { rules_.clear(); }
  bool empty() const { return rules_.empty(); }
  /// Counts a request that reached `unitName` and returns the rules that fire on it.
  std::vector<FaultRule> Match(const std::vector<uint8_t>& payload, const std::string& unitName);
  const std::vector<FaultRule>& rules() const { return rules_; }

 private:
  std::vector<FaultRule> rules_;
};

/// Reads a rule from its text form:
///   KIND [service=0x45] [command=0x1010] [unit=NAME] [at=N] [times=N] [value=N]
/// KIND is one of drop-reply, drop-request, corrupt, garbage, late, twice,
/// wrong-command, hardware-failure, unplug, restart. On error returns false
/// and says why in `error`.
bool ParseFaultRule(const std::string& text, FaultRule& rule, std::string& error);

/// The name of a fault kind as ParseFaultRule reads it.
const char* FaultKindName(FaultKind kind);

}  // namespace kel::sim
