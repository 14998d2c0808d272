#include <windows.h>
// After windows.h, which it needs.
#include <timeapi.h>

#include "platform/clock.h"
#include "platform/signals.h"

namespace kel {
namespace {

class Win32Clock : public Clock {
 public:
  // Without this the system's timer runs in steps of about 15.6 ms, and
  // every short wait (a 1 ms sleep where a driver cannot wait on events, a
  // reply's deadline) would last that long. The clock is made first thing
  // in main, so the whole run has 1 ms waits.
  Win32Clock() {
    timeBeginPeriod(1);
    LARGE_INTEGER frequency;
    if (QueryPerformanceFrequency(&frequency)) frequency_ = frequency.QuadPart;
  }
  ~Win32Clock() override { timeEndPeriod(1); }

  // The performance counter, not GetTickCount: the tick count moves in the
  // timer's steps of up to 15.6 ms whatever resolution was asked for, so a
  // deadline measured with it could end a wait that much late or early.
  // Both count from the system's start; Ticks() wraps at 32 bits as
  // GetTickCount does.
  uint32_t Ticks() override { return static_cast<uint32_t>(Micros() / 1000); }
  uint64_t Micros() override {
    LARGE_INTEGER count;
    if (frequency_ <= 0 || !QueryPerformanceCounter(&count)) return GetTickCount64() * 1000u;
    const uint64_t ticks = static_cast<uint64_t>(count.QuadPart);
    const uint64_t perSecond = static_cast<uint64_t>(frequency_);
    return ticks / perSecond * 1000000u + ticks % perSecond * 1000000u / perSecond;
  }

  void Sleep(uint32_t ms) override {
    ExitIfStopRequested();
    if (ms == 0) {
      SleepEx(0, FALSE);
    } else {
      // Waiting on the stop event instead of sleeping lets Ctrl-C end a
      // long pause at once.
      HANDLE stop = static_cast<HANDLE>(StopSignalEvent());
      if (stop != nullptr) {
        WaitForSingleObject(stop, ms);
      } else {
        SleepEx(ms, FALSE);
      }
    }
    ExitIfStopRequested();
  }

  LocalTime Now() override {
    SYSTEMTIME utc;
    GetSystemTime(&utc);
    SYSTEMTIME now;
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &now)) GetLocalTime(&now);
    // The offset is the difference of the two readings of one moment,
    // in 100 ns steps, rounded to whole minutes.
    FILETIME utcFile, localFile;
    int offset = 0;
    if (SystemTimeToFileTime(&utc, &utcFile) && SystemTimeToFileTime(&now, &localFile)) {
      const auto value = [](const FILETIME& f) {
        return static_cast<long long>((uint64_t{f.dwHighDateTime} << 32) | f.dwLowDateTime);
      };
      const long long minute = 600000000LL;
      const long long diff = value(localFile) - value(utcFile);
      offset = static_cast<int>((diff + (diff >= 0 ? minute / 2 : -minute / 2)) / minute);
    }
    return LocalTime{now.wYear,   now.wMonth,  now.wDay, now.wHour,
                     now.wMinute, now.wSecond, offset};
  }

 private:
  LONGLONG frequency_ = 0;
};

}  // namespace

Clock& SystemClock() {
  static Win32Clock clock;
  return clock;
}

}  // namespace kel
