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

constexpr size_t kNoResult = static_cast<size_t>(-1);

// Where the result field of a reply is, or kNoResult for a reply that has
// none (identity, listings, memory reads, the bare echoes of erases and
// restarts): a code written there would change what the reply says rather
// than how the request ended. The result is the last field of the file,
// flash and proxy replies that carry one, except for the attribute record
// and the proxy search, where it comes first.
size_t ResultIndex(const std::vector<uint8_t>& p) {
  if (p.size() < 4) return kNoResult;
  if (p[1] == 0x47 || p[1] == 0x48) {
    // Only a write acknowledgement (status "3" or "4") carries a result.
    return p.size() >= 12 && (p[2] == '3' || p[2] == '4') ? p.size() - 1 : kNoResult;
  }
  if (p[1] != 0x45 || p[2] != 0x10 || p.size() < 5) return kNoResult;
  switch (p[3]) {
    case 0x2F:  // GetFileAttributes
      return p.size() > 7 ? 7 : kNoResult;
    case 0x3C:  // SearchKelUpdaterProxy
      return 4;
    case 0x1C:  // IsVComPort
    case 0x26:  // OpenFile
    case 0x29:  // CreateFile
    case 0x2B:  // SetFileProperties
    case 0x2C:  // CloseFile
    case 0x36:  // EraseFMS
    case 0x3A:  // program flash from buffer
    case 0x3D:  // set proxy speed
    case 0x3E:  // OpenKelUpdaterProxy
    case 0x3F:  // CloseKelUpdaterProxy
    case 0x40:  // program flash
    case 0x41:  // program flash, windowed
    case 0x42:  // program flash, large
    case 0x50:  // write flash
      return p.size() - 1;
    default:
      return kNoResult;
  }
}

// Puts a failure code into the reply's result field; a block read reports
// failure with the count 0xFF. A reply without a result is left as it is.
void InjectFailure(std::vector<uint8_t>& p, uint8_t code) {
  if (p.size() > 11 && p[1] == 0x45 && p[2] == 0x10 && p[3] == 0x27) {
    p[11] = 0xFF;
    p.resize(12);
    return;
  }
  const size_t at = ResultIndex(p);
  if (at != kNoResult) p[at] = code;
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
