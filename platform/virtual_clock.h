#pragma once

#include <functional>

#include "platform/clock.h"

namespace kel {

/// A clock that only moves when someone sleeps or advances it. Sleep() moves
/// time forward at once, so a 90-second wait runs in no real time. A listener
/// may be attached that is told of every advance (the in-memory serial link
/// uses it to deliver bytes whose time has come).
class VirtualClock : public Clock {
 public:
  explicit VirtualClock(uint32_t startTicks = 1000, LocalTime now = {2026, 12, 8, 10, 0, 0})
      : ticks_(startTicks), now_(now) {}

  uint32_t Ticks() override { return ticks_; }
  void Sleep(uint32_t ms) override { Advance(ms == 0 ? 1 : ms); }
  LocalTime Now() override { return now_; }

  void Advance(uint32_t ms) {
    ticks_ += ms;
    if (onAdvance_) onAdvance_(ticks_);
  }
  void SetNow(const LocalTime& now) { now_ = now; }
  void SetAdvanceListener(std::function<void(uint32_t)> listener) { onAdvance_ = std::move(listener); }

 private:
  uint32_t ticks_;
  LocalTime now_;
  std::function<void(uint32_t)> onAdvance_;
};

}  // namespace kel
