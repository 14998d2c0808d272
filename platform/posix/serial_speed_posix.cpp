// Line speeds through the Linux termios2 interface. Its header cannot be
// mixed with <termios.h> or <sys/ioctl.h>, so this file stands alone.
#include "platform/posix/serial_speed_posix.h"

#include <cerrno>
#include <cstdlib>

#if defined(__linux__)
#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace kel {

bool SetLineSpeed(int fd, int32_t baudRate) {
  if (baudRate <= 0) {
    errno = EINVAL;
    return false;
  }
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = static_cast<speed_t>(baudRate);
  tio.c_ospeed = static_cast<speed_t>(baudRate);
  if (ioctl(fd, TCSETS2, &tio) != 0) return false;
  // A driver may quietly round a rate it cannot make; more than 3% off
  // would garble every byte, so that counts as refused.
  struct termios2 check {};
  if (ioctl(fd, TCGETS2, &check) != 0) return false;
  const long diff = std::labs(static_cast<long>(check.c_ospeed) - baudRate);
  if (diff * 100 > static_cast<long>(baudRate) * 3) {
    errno = EINVAL;
    return false;
  }
  return true;
}

bool GetLineSpeed(int fd, int32_t& baudRate) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  baudRate = static_cast<int32_t>(tio.c_ospeed);
  return true;
}

bool SaveTerminalSettings(int fd, TerminalSettings& settings) {
  static_assert(sizeof(struct termios2) <= sizeof settings.raw);
  return ioctl(fd, TCGETS2, reinterpret_cast<struct termios2*>(settings.raw)) == 0;
}

bool RestoreTerminalSettings(int fd, const TerminalSettings& settings) {
  return ioctl(fd, TCSETS2, reinterpret_cast<const struct termios2*>(settings.raw)) == 0;
}

}  // namespace kel

#else
#include <termios.h>

namespace kel {

namespace {
struct RateCode {
  int32_t rate;
  speed_t code;
};
// Only the rates the system has constants for can be set elsewhere.
constexpr RateCode kRates[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},   {9600, B9600},
    {19200, B19200},   {38400, B38400},   {57600, B57600}, {115200, B115200},
    {230400, B230400},
};
}  // namespace

bool SetLineSpeed(int fd, int32_t baudRate) {
  for (const RateCode& r : kRates) {
    if (r.rate != baudRate) continue;
    struct termios tio {};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfsetispeed(&tio, r.code);
    cfsetospeed(&tio, r.code);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
  }
  errno = EINVAL;
  return false;
}

bool GetLineSpeed(int fd, int32_t& baudRate) {
  struct termios tio {};
  if (tcgetattr(fd, &tio) != 0) return false;
  const speed_t code = cfgetospeed(&tio);
  for (const RateCode& r : kRates) {
    if (r.code == code) {
      baudRate = r.rate;
      return true;
    }
  }
  baudRate = 0;
  return true;
}

bool SaveTerminalSettings(int fd, TerminalSettings& settings) {
  static_assert(sizeof(struct termios) <= sizeof settings.raw);
  return tcgetattr(fd, reinterpret_cast<struct termios*>(settings.raw)) == 0;
}

bool RestoreTerminalSettings(int fd, const TerminalSettings& settings) {
  return tcsetattr(fd, TCSANOW, reinterpret_cast<const struct termios*>(settings.raw)) == 0;
}

}  // namespace kel
#endif
