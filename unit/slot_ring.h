#pragma once

#include <array>
#include <cstddef>

namespace kel {

/// The ring of a transfer window: requests sent and not yet acknowledged,
/// oldest at the tail, the next to fill at the head. The slot before the
/// tail is never filled, so a full ring is told apart from an empty one and
/// at most kSlots - 1 requests are outstanding whatever the limit. The
/// programmer's windows have 17 slots, the file window 9.
template <typename Slot, size_t Slots = 17>
class SlotRing {
 public:
  static constexpr size_t kSlots = Slots;

  bool empty() const { return count_ == 0; }
  size_t count() const { return count_; }
  /// Forgets every outstanding request (a transfer begun again from its start).
  void Clear() { head_ = tail_ = count_ = 0; }

  /// True when the oldest request must be retired before another is sent
  /// with at most `limit` outstanding.
  bool MustRetire(size_t limit) const { return count_ >= limit || Next(head_) == tail_; }

  /// The slot the next request is stored in; Push counts it as sent.
  Slot& headSlot() { return slots_[head_]; }
  void Push() {
    head_ = Next(head_);
    ++count_;
  }

  /// The oldest outstanding request; Retire drops it.
  Slot& tailSlot() { return slots_[tail_]; }
  void Retire() {
    tail_ = Next(tail_);
    --count_;
  }

  /// The outstanding request `i` places after the tail (0 = the tail).
  Slot& Outstanding(size_t i) { return slots_[(tail_ + i) % kSlots]; }

 private:
  static size_t Next(size_t i) { return (i + 1) % kSlots; }

  std::array<Slot, kSlots> slots_{};
  size_t head_ = 0;
  size_t tail_ = 0;
  size_t count_ = 0;
};

}  // namespace kel
