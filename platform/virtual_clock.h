#pragma once

#include <functional>

#include "platform/clock.h"

namespace kel {

/// A clock that only moves when someone sleeps or advances it. Sleep() moves
/// time forward at once, so a 90-second wait runs in no real time. Time is
/// kept in microseconds, so a simulated line can hand over a byte at the
/// moment it arrives; Ticks() is the whole milliseconds of it, so every
/// millisecond timeout keeps its length. A listener may be attached that is
/// told of every advance.
class VirtualClock : public Clock {
 public:
  explicit VirtualClock(uint32_t startTicks = 1000, LocalTime now = {2026, 12, 8, 10, 0, 0})
      : micros_(uint64_t{startTicks} * 1000), now_(now) {}

  uint32_t Ticks() override { return static_cast<uint32_t>(micros_ / 1000); }
  uint64_t Micros() override { return micros_; }
  void Sleep(uint32_t ms) override { Advance(ms == 0 ? 1 : ms); }
  void SleepMicros(uint64_t us) override { AdvanceMicros(us == 0 ? 1 : us); }
  LocalTime Now() override { return now_; }

  void Advance(uint32_t ms) { AdvanceMicros(uint64_t{ms} * 1000); }
  void AdvanceMicros(uint64_t us) {
    micros_ += us;
    if (onAdvance_) onAdvance_(Ticks());
  }
  void SetNow(const LocalTime& now) { now_ = now; }
  void SetAdvanceListener(std::function<void(uint32_t)> listener) {
    onAdvance_ = std::move(listener);
  }

 private:
  uint64_t micros_;
  LocalTime now_;
  std::function<void(uint32_t)> onAdvance_;
};

}  // namespace kel
