#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "sim/unit_timing.h"

namespace kel::sim {

/// The requests a unit has received and not yet finished with: those that
/// wait in its receive buffer while it is busy, and those whose reply has
/// not yet left. A request that finds the buffer full, or more windowed
/// requests of its kind unanswered than the unit keeps, is lost, as on a
/// unit whose UART overruns.
class UnitInbox {
 public:
  enum class Refusal : uint8_t { kNone, kBufferFull, kWindowFull };
  static constexpr uint64_t kOpen = UINT64_MAX;  ///< finish time not known yet

  /// Whether a request of `bytes` bytes fits: its first byte arrived at
  /// `firstUs` (a windowed request then needs a free place in the window)
  /// and its last at `lastUs` (the receive buffer must hold it with what is
  /// still waiting).
  Refusal Check(uint64_t firstUs, uint64_t lastUs, size_t bytes, WindowKind kind, size_t capacity,
                size_t windowLimit);
  /// Notes an accepted request that the unit starts on at `startUs`; returns its id.
  uint64_t Add(uint64_t startUs, size_t bytes, WindowKind kind);
  /// The request is done with once its reply has left at `finishUs`.
  void Finish(uint64_t id, uint64_t finishUs);
  /// A reply that acknowledges every older request of its kind (windowed
  /// programming) frees their places too, even while a reply of theirs is
  /// still held back: the sender may fill them as soon as it has that reply.
  void FinishOlder(uint64_t id, WindowKind kind, uint64_t finishUs);
  /// A restart forgets everything received.
  void Clear() { entries_.clear(); }

 private:
  struct Entry {
    uint64_t id;
    uint64_t startUs;
    uint64_t finishUs;
    size_t bytes;
    WindowKind kind;
  };
  std::deque<Entry> entries_;
  uint64_t nextId_ = 1;
};

}  // namespace kel::sim
