#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "platform/serial_device.h"

namespace kel::sim {

/// Bits one byte takes on a line with these settings: a start bit, 8 data
/// bits, the parity bit when parity is on, and the stop bits (11 bits
/// without parity and 12 with it at the units' two stop bits).
uint32_t BitsPerByte(const SerialConfig& line);

/// Microseconds that `bytes` bytes occupy the line, rounded up; 0 at an
/// unknown speed.
uint64_t LineTimeUs(size_t bytes, const SerialConfig& line);

/// The settings a unit's side of the line runs at.
SerialConfig UnitLine(int32_t baudRate, bool evenParity);

/// One direction of a serial line: bytes go out one after another, a batch
/// no earlier than the line is free.
class LineDirection {
 public:
  /// Puts `bytes` on the line no earlier than `readyUs`; returns the time
  /// the first byte starts. The last byte has arrived at `*endUs`.
  uint64_t Send(uint64_t readyUs, size_t bytes, const SerialConfig& line, uint64_t* endUs);
  uint64_t freeAt() const { return freeAtUs_; }
  void Reset(uint64_t atUs) { freeAtUs_ = atUs; }

 private:
  uint64_t freeAtUs_ = 0;
};

/// When each byte of a received stream arrived: chunks are noted with the
/// time their first byte started and the line's settings, and the arrival
/// of any byte (counted from the start of the stream) is worked out from
/// them.
class ArrivalLog {
 public:
  void Add(uint64_t firstIndex, size_t count, uint64_t startUs, const SerialConfig& line);
  /// The time the byte at `index` had fully arrived (the last chunk's end
  /// for an index past it).
  uint64_t ArrivalOf(uint64_t index) const;
  /// Forgets chunks that end before `index`.
  void Forget(uint64_t index);

 private:
  struct Chunk {
    uint64_t firstIndex;
    size_t count;
    uint64_t startUs;
    SerialConfig line;
  };
  std::deque<Chunk> chunks_;
};

}  // namespace kel::sim
