#include "sim/line_timing.h"

#include <algorithm>

namespace kel::sim {

namespace {

constexpr uint32_t kStartAndDataBits = 9;
constexpr uint64_t kUsPerSecond = 1000000;
// Chunks kept: a frame never spans more writes than this in practice.
constexpr size_t kMaxChunks = 4096;

}  // namespace

uint32_t BitsPerByte(const SerialConfig& line) {
  const uint32_t stop = line.stopBits == 1 ? 1 : 2;
  return kStartAndDataBits + (line.parityOn ? 1 : 0) + stop;
}

uint64_t LineTimeUs(size_t bytes, const SerialConfig& line) {
  if (line.baudRate <= 0) return 0;
  const uint64_t bits = uint64_t{bytes} * BitsPerByte(line);
  const uint64_t baud = static_cast<uint64_t>(line.baudRate);
  return (bits * kUsPerSecond + baud - 1) / baud;
}

SerialConfig UnitLine(int32_t baudRate, bool evenParity) {
  SerialConfig line;
  line.baudRate = baudRate;
  line.parityOn = evenParity;
  line.evenParity = evenParity;
  return line;
}

uint64_t LineDirection::Send(uint64_t readyUs, size_t bytes, const SerialConfig& line,
                             uint64_t* endUs) {
  const uint64_t start = std::max(readyUs, freeAtUs_);
  freeAtUs_ = start + LineTimeUs(bytes, line);
  if (endUs) *endUs = freeAtUs_;
  return start;
}

void ArrivalLog::Add(uint64_t firstIndex, size_t count, uint64_t startUs,
                     const SerialConfig& line) {
  if (count == 0) return;
  if (chunks_.size() >= kMaxChunks) chunks_.pop_front();
  chunks_.push_back({firstIndex, count, startUs, line});
}

uint64_t ArrivalLog::ArrivalOf(uint64_t index) const {
  if (chunks_.empty()) return 0;
  for (auto it = chunks_.rbegin(); it != chunks_.rend(); ++it) {
    if (index >= it->firstIndex) {
      const uint64_t within = std::min<uint64_t>(index - it->firstIndex, it->count - 1);
      return it->startUs + LineTimeUs(static_cast<size_t>(within + 1), it->line);
    }
  }
  const Chunk& first = chunks_.front();
  return first.startUs + LineTimeUs(1, first.line);
}

void ArrivalLog::Forget(uint64_t index) {
  while (!chunks_.empty() && chunks_.front().firstIndex + chunks_.front().count <= index)
    chunks_.pop_front();
}

}  // namespace kel::sim
