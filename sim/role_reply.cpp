#include "sim/role_reply.h"

#include <algorithm>

#include "sim/sim_unit.h"
#include "sim/wire_bytes.h"

namespace kel::sim {

namespace {

constexpr int16_t kBuildWordFromVersion = 600;

}  // namespace

SimReply MakeReply(std::vector<uint8_t> payload, uint32_t delayMs, bool lengthFramed) {
  SimReply reply;
  reply.payload = std::move(payload);
  reply.delayMs = delayMs;
  reply.lengthFramed = lengthFramed;
  return reply;
}

uint16_t BufferSizeOf(const SimUnit& unit) {
  return unit.role == SimRole::kProgrammer && unit.programmerBufferSize != 0
             ? unit.programmerBufferSize
             : unit.bufferSize;
}

size_t TransferBufferSize(const SimUnit& unit) {
  return std::max<size_t>(BufferSizeOf(unit), kMaxSmallWrite);
}

bool FitsAddressSpace(uint32_t address, size_t length) {
  return uint64_t{address} + length <= 0x100000000ull;
}

bool ParseBlockRequest(const SimUnit& unit, const std::vector<uint8_t>& payload, bool large,
                       BlockRequest& out) {
  const size_t fields = large ? 10 : 9;
  if (payload.size() < fields) return false;
  out.address = ReadBe32(payload, 4);
  out.length = large ? ReadBe16(payload, 8) : payload[8];
  out.dataAt = fields;
  if (payload.size() != fields + out.length) return false;
  if (!large && out.length > kMaxSmallWrite) return false;
  if (large && (out.length > TransferBufferSize(unit) || out.length > kMaxRecord)) return false;
  return true;
}

std::vector<uint8_t> UnitInfoReply(const SimUnit& unit, const std::vector<uint8_t>& request,
                                   int16_t version) {
  std::vector<uint8_t> out = EchoHead(request, kRequestHead);
  AppendBe16(out, unit.cardNumber);
  AppendBe16(out, unit.circuitCode);
  AppendBe16(out, static_cast<uint16_t>(version));
  AppendBe16(out, version >= kBuildWordFromVersion
                      ? static_cast<uint16_t>((static_cast<uint8_t>(unit.buildIncrement) << 8) |
                                              unit.softwareRelease)
                      : unit.productWord);
  return out;
}

}  // namespace kel::sim
