#include "sim/power_loss.h"

#include <algorithm>

#include "sim/flash_memory.h"
#include "sim/role_reply.h"
#include "sim/sim_unit.h"
#include "sim/wire_bytes.h"

namespace kel::sim {

namespace {

size_t Kept(const FaultRule& rule, size_t whole) {
  return std::min<size_t>(whole, FaultValue(rule, static_cast<uint32_t>(whole / 2)));
}

// A write whose one-byte length sits at `lengthAt` and whose data follows it.
std::vector<uint8_t> ShortenSmall(const std::vector<uint8_t>& p, size_t lengthAt,
                                  const FaultRule& rule) {
  if (p.size() <= lengthAt || p.size() != lengthAt + 1 + p[lengthAt]) return p;
  const size_t keep = Kept(rule, p[lengthAt]);
  std::vector<uint8_t> out(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(lengthAt + 1 + keep));
  out[lengthAt] = static_cast<uint8_t>(keep);
  return out;
}

// The first sectors of first..last: the request's last address moves to
// the end of the sector that is the last one done.
std::vector<uint8_t> ShortenErase(const SimUnit& unit, const std::vector<uint8_t>& p,
                                  const FaultRule& rule) {
  const uint32_t first = ReadBe32(p, 4);
  const uint32_t last = ReadBe32(p, 8);
  if (last < first) return p;
  std::vector<FlashRange> sectors;
  for (uint64_t at = first; at <= last;) {
    const FlashRange sector = FlashMemory::SectorOf(unit.mcuType, static_cast<uint32_t>(at));
    sectors.push_back(sector);
    at = uint64_t{sector.last} + 1;
  }
  const size_t keep = Kept(rule, sectors.size());
  if (keep == 0) return {};
  std::vector<uint8_t> out = EchoHead(p, 4);
  AppendBe32(out, first);
  AppendBe32(out, std::min(last, sectors[keep - 1].last));
  return out;
}

}  // namespace

std::vector<uint8_t> PartialRequest(const SimUnit& unit, const std::vector<uint8_t>& p,
                                    const FaultRule& rule) {
  if (p.size() >= 3 && (p[1] == 0x47 || p[1] == 0x48)) {
    const size_t body = p[1] == 0x48 ? 4 : 3;
    return p.size() > body + 7 && p[body - 1] == '2' ? ShortenSmall(p, body + 7, rule) : p;
  }
  if (p.size() < kRequestHead || p[1] != 0x45 || p[2] != 0x10) return p;
  switch (p[3]) {
    case 0x40:
      return ShortenSmall(p, 8, rule);
    case 0x41:
      return ShortenSmall(p, 10, rule);
    case 0x50: {
      // Written as a plain program request of the bytes that made it.
      if (p.size() != 9 + kMaxSmallWrite) return p;
      std::vector<uint8_t> out = p;
      out[3] = 0x40;
      return ShortenSmall(out, 8, rule);
    }
    case 0x42: {
      if (p.size() < 10 || p.size() != size_t{10} + ReadBe16(p, 8)) return p;
      const size_t keep = Kept(rule, ReadBe16(p, 8));
      std::vector<uint8_t> out(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(10 + keep));
      out[8] = static_cast<uint8_t>(keep >> 8);
      out[9] = static_cast<uint8_t>(keep);
      return out;
    }
    case 0x3A: {
      if (p.size() != 10) return p;
      const size_t keep = Kept(rule, ReadBe16(p, 8));
      std::vector<uint8_t> out = p;
      out[8] = static_cast<uint8_t>(keep >> 8);
      out[9] = static_cast<uint8_t>(keep);
      return out;
    }
    case 0x35:
      return p.size() == 12 ? ShortenErase(unit, p, rule) : p;
    default:
      return p;
  }
}

}  // namespace kel::sim
