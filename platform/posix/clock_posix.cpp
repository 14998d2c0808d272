#include <poll.h>
#include <sched.h>
#include <time.h>

#include <cerrno>

#include "platform/clock.h"
#include "platform/signals.h"

namespace kel {
namespace {

uint64_t MonotonicUs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

uint64_t MonotonicMs() { return MonotonicUs() / 1000u; }

class PosixClock : public Clock {
 public:
  // Truncated to 32 bits, so the count wraps like GetTickCount after 49.7 days.
  uint32_t Ticks() override { return static_cast<uint32_t>(MonotonicMs()); }
  uint64_t Micros() override { return MonotonicUs(); }

  void Sleep(uint32_t ms) override {
    ExitIfStopRequested();
    if (ms == 0) {
      sched_yield();
    } else {
      // Waiting on the stop descriptor instead of nanosleep lets Ctrl-C end
      // a long pause at once; EINTR only shortens the remaining wait.
      const uint64_t end = MonotonicMs() + ms;
      for (;;) {
        uint64_t now = MonotonicMs();
        if (now >= end || StopRequested()) break;
        struct pollfd stop = {StopSignalFd(), POLLIN, 0};
        int ready = poll(&stop, 1, static_cast<int>(end - now));
        if (ready > 0) break;
        if (ready < 0 && errno != EINTR) break;
      }
    }
    ExitIfStopRequested();
  }

  LocalTime Now() override {
    time_t now = time(nullptr);
    struct tm local = {};
    localtime_r(&now, &local);
    return LocalTime{local.tm_year + 1900, local.tm_mon + 1,
                     local.tm_mday,        local.tm_hour,
                     local.tm_min,         local.tm_sec,
                     static_cast<int>(local.tm_gmtoff / 60)};
  }
};

}  // namespace

Clock& SystemClock() {
  static PosixClock clock;
  return clock;
}

}  // namespace kel
