#include "platform/posix/low_latency_posix.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/serial.h>
#endif

#include "platform/pseudo_terminal.h"

namespace kel {
namespace {

#if defined(__linux__)
// A driver's flag word that records what was asked of it.
class FakeDriverFlags : public SerialDriverFlags {
 public:
  bool supported = true;
  bool refusesChange = false;
  int flags = 0;
  int sets = 0;
  bool Get(int& out) override {
    out = flags;
    return supported;
  }
  bool Set(int value) override {
    ++sets;
    if (refusesChange) return false;
    flags = value;
    return true;
  }
};

// Low latency is asked for where it is off and put back when the port
// closes; a port that had it already keeps it, and one that has no such
// flag or refuses it is left alone.
TEST(LowLatency, AskedAtOpenAndPutBackAtClose) {
  constexpr int kOther = 0x40;
  struct Case {
    const char* name;
    bool supported, refuses;
    int before, during, after, sets;
  } cases[] = {
      {"off", true, false, kOther, kOther | ASYNC_LOW_LATENCY, kOther, 2},
      {"already on", true, false, ASYNC_LOW_LATENCY, ASYNC_LOW_LATENCY, ASYNC_LOW_LATENCY, 0},
      {"no such flag", false, false, 0, 0, 0, 0},
      {"refused", true, true, 0, 0, 0, 1},
  };
  for (const Case& c : cases) {
    FakeDriverFlags driver;
    driver.supported = c.supported;
    driver.refusesChange = c.refuses;
    driver.flags = c.before;
    const LatencyHold hold = RequestLowLatency(driver);
    EXPECT_EQ(driver.flags, c.during) << c.name;
    RestoreLatency(driver, hold);
    EXPECT_EQ(driver.flags, c.after) << c.name;
    EXPECT_EQ(driver.sets, c.sets) << c.name;
  }
}

// A pseudo-terminal has no driver flags: the request leaves it alone.
TEST(LowLatency, APseudoTerminalHasNoDriverFlags) {
  std::string error;
  auto pty = OpenPseudoTerminal(error);
  ASSERT_NE(pty, nullptr) << error;
  const int fd = open(pty->slavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  IoctlDriverFlags flags(fd);
  int value = 0;
  EXPECT_FALSE(flags.Get(value));
  EXPECT_FALSE(RequestLowLatency(flags).changed);
  close(fd);
}
#endif

}  // namespace
}  // namespace kel
