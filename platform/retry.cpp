#include "platform/retry.h"

namespace kel {

bool RetryFor(Clock& clock, uint32_t limitMs, uint32_t pauseMs,
              const std::function<bool()>& attempt) {
  const uint32_t start = clock.Ticks();
  for (;;) {
    if (attempt()) return true;
    const uint32_t elapsed = clock.Ticks() - start;
    if (elapsed >= limitMs) return false;
    const uint32_t left = limitMs - elapsed;
    clock.Sleep(pauseMs < left ? pauseMs : left);
  }
}

}  // namespace kel
