#pragma once

#include <cstdint>

namespace kel {

/// Local calendar date and time, as the log names and stamps need it.
struct LocalTime {
  int year = 0;    ///< full year, e.g. 2026
  int month = 0;   ///< 1..12
  int day = 0;     ///< 1..31
  int hour = 0;    ///< 0..23
  int minute = 0;  ///< 0..59
  int second = 0;  ///< 0..59
  int utcOffsetMinutes = 0;  ///< local time minus UTC (60 for UTC+01:00)
};

/// Millisecond time source. Every timeout in the program is measured with
/// Ticks(); tests replace the system clock with VirtualClock so that long
/// waits and many retries cost no real time.
class Clock {
 public:
  virtual ~Clock() = default;
  /// Milliseconds since an arbitrary start; wraps like GetTickCount.
  virtual uint32_t Ticks() = 0;
  /// Waits `ms` milliseconds (0 yields). The system clock ends the process
  /// through the stop path when a stop signal arrived during the wait.
  virtual void Sleep(uint32_t ms) = 0;
  /// Microseconds on the same count as Ticks(): Ticks() is this divided by
  /// 1000, truncated to 32 bits. Does not wrap. A clock without a finer
  /// reading gives the start of the present tick.
  virtual uint64_t Micros() { return uint64_t{Ticks()} * 1000; }
  /// Waits `us` microseconds; a clock without a finer wait rounds up to
  /// whole milliseconds.
  virtual void SleepMicros(uint64_t us) {
    Sleep(static_cast<uint32_t>(us / 1000 + (us % 1000 != 0 ? 1 : 0)));
  }
  /// The local date and time now.
  virtual LocalTime Now() = 0;
};

/// The real clock of this platform (GetTickCount / CLOCK_MONOTONIC).
Clock& SystemClock();

}  // namespace kel
