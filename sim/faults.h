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
  kHardwareFailure,  ///< the reply's result field carries `value` (default 1); a reply
                     ///< without one is left as it is
  kUnplug,           ///< from this request on the unit answers nothing
  kRestart,          ///< the unit restarts instead of answering (`value` 1: into its boot loader)
  kTruncate,         ///< only the first `value` bytes of the reply go out (default half of it)
  kJunkAfter,        ///< `value` noise bytes (default 4) follow the reply
  kSilence,  ///< the unit neither acts nor answers for `value` ms (default 2000) from this request
             ///< on
  kPowerLoss,  ///< the unit loses power while acting: a flash or file write keeps its first `value`
               ///< bytes (default half), an erase its first `value` sectors (default half); it
               ///< restarts without answering
  kDuplicate,  ///< the request reaches the unit twice, and it acts and answers twice
  kRestartAfter,  ///< the unit acts on the request, then restarts instead of answering (`value`
                  ///< 1: into its boot loader)
  kNoise,      ///< each byte of the framed reply is damaged with a chance of 1 in `value` (default
               ///< 400), drawn from the rule's `seed`
  kCtsLow,     ///< the unit holds CTS low for `value` ms (default 1000); with hardware flow control
               ///< the program's bytes wait for it
  kStrayEcho,  ///< before the reply, a copy of it whose echoed address or offset is one never
               ///< sent (its first echoed byte changed)
  kEchoPrevious,  ///< before the reply, the unit's previous reply again (a stale echo of the
                  ///< block before)
};

/// One rule: which requests it hits and what it does to them.
struct FaultRule {
  FaultKind kind = FaultKind::kDropReply;
  int service = -1;       ///< request service byte (0x41, 0x45, 0x47, 0x48); -1 any
  int command = -1;       ///< 0x45 command (0x10xx) or G/H sub-command; -1 any
  std::string unit;       ///< name of the unit addressed; empty any
  uint32_t atPacket = 0;  ///< fire at the Nth matching request (1-based); 0 from the first
  uint64_t fromRequest =
      0;  ///< count only from the port's request number N on (as the transcript numbers them)
  uint32_t times = 1;  ///< how many times it fires; 0 without end
  uint32_t value = 0;  ///< kind-dependent amount (see FaultKind)
  bool hasValue = false;
  uint32_t seed = 0;  ///< noise: where its random draws start

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
  /// Counts a request that reached `unitName`, numbered `request` on the
  /// port, and returns the rules that fire on it.
  std::vector<FaultRule> Match(const std::vector<uint8_t>& payload, const std::string& unitName,
                               uint64_t request);
  const std::vector<FaultRule>& rules() const { return rules_; }

 private:
  std::vector<FaultRule> rules_;
};

/// Reads a rule from its text form:
///   KIND [service=0x45] [command=0x1010] [unit=NAME] [request=N] [at=N] [times=N] [value=N]
/// KIND is one of drop-reply, drop-request, corrupt, garbage, late, twice,
/// wrong-command, hardware-failure, unplug, restart, restart-after, noise, truncate, junk-after,
/// silence, power-loss, duplicate, cts-low, stray-echo, echo-previous. On error returns false and
/// says why in `error`.
bool ParseFaultRule(const std::string& text, FaultRule& rule, std::string& error);

/// The name of a fault kind as ParseFaultRule reads it.
const char* FaultKindName(FaultKind kind);

/// True for the kinds that act on the request rather than on its reply.
bool IsRequestFault(FaultKind kind);

/// The rule's amount, or `fallback` when the rule gives none.
inline uint32_t FaultValue(const FaultRule& rule, uint32_t fallback) {
  return rule.hasValue ? rule.value : fallback;
}

}  // namespace kel::sim
