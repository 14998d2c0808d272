#include <windows.h>

#include "platform/clock.h"
#include "platform/signals.h"

namespace kel {
namespace {

class Win32Clock : public Clock {
 public:
  uint32_t Ticks() override { return GetTickCount(); }
  // The same count as GetTickCount, without its wrap; the tick count has no
  // finer steps, so this is the start of the present millisecond.
  uint64_t Micros() override { return GetTickCount64() * 1000u; }

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
};

}  // namespace

Clock& SystemClock() {
  static Win32Clock clock;
  return clock;
}

}  // namespace kel
