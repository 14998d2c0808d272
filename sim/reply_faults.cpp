#include "sim/reply_faults.h"

#include <algorithm>

namespace kel::sim {

namespace {

constexpr uint32_t kDefaultLateMs = 1500;
constexpr uint8_t kDefaultFailure = 1;
constexpr uint32_t kDefaultJunkBytes = 4;
constexpr uint8_t kGarbageByte = 0xA5;
constexpr uint8_t kJunkByte = 0x5A;
// Noise a rule may add at most, so that a hostile value costs little.
constexpr size_t kMaxNoise = 4096;
constexpr uint32_t kDefaultNoiseOneIn = 400;

// A well-mixed 64-bit value of its input (splitmix64), for the noise draws.
uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Damages each byte with a chance of 1 in `oneIn`; the draws depend on the
// rule's seed, how often it fired and the byte's place, so a run repeats.
void AddNoise(std::vector<uint8_t>& wire, const FaultRule& f) {
  const uint32_t oneIn = std::max<uint32_t>(1, FaultValue(f, kDefaultNoiseOneIn));
  for (size_t i = 0; i < wire.size(); ++i) {
    const uint64_t draw = Mix((uint64_t{f.seed} << 32) ^ (uint64_t{f.fired} << 16) ^ i);
    if (draw % oneIn == 0) wire[i] ^= static_cast<uint8_t>(1 + (draw >> 32) % 255);
  }
}

// Puts a failure code into the result field of a flash or file reply. The
// result is the last field of these replies except for the attribute
// record, and a block read reports failure with the count 0xFF.
void InjectFailure(std::vector<uint8_t>& p, uint8_t code) {
  if (p.size() < 5) return;
  if (p[1] == 0x45 && p[2] == 0x10 && p[3] == 0x2F && p.size() > 7) {
    p[7] = code;
  } else if (p[1] == 0x45 && p[2] == 0x10 && p[3] == 0x27 && p.size() > 11) {
    p[11] = 0xFF;
    p.resize(12);
  } else {
    p.back() = code;
  }
}

void ChangeCommand(std::vector<uint8_t>& p) {
  if (p.size() < 2) return;
  if (p[1] == 0x42) {
    p[1] = 0x43;
  } else if (p[1] == 0x45 && p.size() >= 4) {
    p[3] ^= 0x01;
  } else if (p.size() >= 3) {
    p[2] ^= 0x01;
  }
}

}  // namespace

void ApplyPayloadFaults(std::vector<uint8_t>& payload, const std::vector<FaultRule>& hits) {
  for (const FaultRule& f : hits) {
    if (f.kind == FaultKind::kWrongCommand) ChangeCommand(payload);
    if (f.kind == FaultKind::kHardwareFailure)
      InjectFailure(payload, static_cast<uint8_t>(FaultValue(f, kDefaultFailure)));
  }
}

std::vector<std::vector<uint8_t>> StrayEchoes(const std::vector<uint8_t>& payload,
                                              const std::vector<FaultRule>& hits) {
  std::vector<std::vector<uint8_t>> stray;
  for (const FaultRule& f : hits) {
    if (f.kind != FaultKind::kStrayEcho || payload.size() < 2) continue;
    std::vector<uint8_t> copy = payload;
    // After address, service and command: the echoed address or offset.
    const size_t at = copy.size() > 4 ? 4 : copy.size() - 1;
    copy[at] ^= 0x80;
    stray.push_back(std::move(copy));
  }
  return stray;
}

bool EchoesPrevious(const std::vector<FaultRule>& hits) {
  return std::any_of(hits.begin(), hits.end(),
                     [](const FaultRule& f) { return f.kind == FaultKind::kEchoPrevious; });
}

FaultedReply ApplyWireFaults(std::vector<uint8_t> wire, const std::vector<FaultRule>& hits) {
  FaultedReply out;
  size_t garbage = 0;
  size_t junk = 0;
  for (const FaultRule& f : hits) {
    switch (f.kind) {
      case FaultKind::kDropReply:
        out.copies = 0;
        break;
      case FaultKind::kDoubleReply:
        out.copies = out.copies == 0 ? 0 : 2;
        break;
      case FaultKind::kLateReply:
        out.lateMs += FaultValue(f, kDefaultLateMs);
        break;
      case FaultKind::kPrependGarbage:
        garbage += FaultValue(f, 1);
        break;
      case FaultKind::kJunkAfter:
        junk += FaultValue(f, kDefaultJunkBytes);
        break;
      case FaultKind::kCorruptByte:
        if (!wire.empty()) wire[f.hasValue ? f.value % wire.size() : wire.size() / 2] ^= 0x55;
        break;
      case FaultKind::kNoise:
        AddNoise(wire, f);
        break;
      case FaultKind::kTruncate:
        wire.resize(
            std::min<size_t>(wire.size(), FaultValue(f, static_cast<uint32_t>(wire.size() / 2))));
        break;
      default:
        break;
    }
  }
  if (garbage > 0) wire.insert(wire.begin(), std::min(garbage, kMaxNoise), kGarbageByte);
  if (junk > 0) wire.insert(wire.end(), std::min(junk, kMaxNoise), kJunkByte);
  out.wire = std::move(wire);
  return out;
}

std::string FaultNotes(const std::vector<FaultRule>& hits, bool requestSide) {
  std::string note;
  for (const FaultRule& f : hits) {
    if (IsRequestFault(f.kind) == requestSide)
      note += std::string(" [") + FaultKindName(f.kind) + "]";
  }
  return note;
}

}  // namespace kel::sim
