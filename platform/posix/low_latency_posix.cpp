#include "platform/posix/low_latency_posix.h"

#include <sys/ioctl.h>

#if defined(__linux__)
#include <linux/serial.h>
#endif

namespace kel {

namespace {

#if defined(__linux__)
constexpr int kLowLatencyFlag = ASYNC_LOW_LATENCY;
#else
constexpr int kLowLatencyFlag = 0;
#endif

}  // namespace

bool IoctlDriverFlags::Get(int& flags) {
#if defined(__linux__)
  serial_struct info{};
  if (ioctl(fd_, TIOCGSERIAL, &info) != 0) return false;
  flags = info.flags;
  return true;
#else
  (void)flags;
  return false;
#endif
}

bool IoctlDriverFlags::Set(int flags) {
#if defined(__linux__)
  // The rest of the driver's settings go back as they were read.
  serial_struct info{};
  if (ioctl(fd_, TIOCGSERIAL, &info) != 0) return false;
  info.flags = flags;
  return ioctl(fd_, TIOCSSERIAL, &info) == 0;
#else
  (void)flags;
  return false;
#endif
}

LatencyHold RequestLowLatency(SerialDriverFlags& flags) {
  LatencyHold hold;
  int current = 0;
  if (kLowLatencyFlag == 0 || !flags.Get(current) || (current & kLowLatencyFlag) != 0) {
    return hold;
  }
  hold.changed = flags.Set(current | kLowLatencyFlag);
  return hold;
}

void RestoreLatency(SerialDriverFlags& flags, const LatencyHold& hold) {
  int current = 0;
  if (!hold.changed || !flags.Get(current)) return;
  flags.Set(current & ~kLowLatencyFlag);
}

}  // namespace kel
