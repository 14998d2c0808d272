#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "link/comm_port.h"
#include "platform/files.h"
#include "platform/posix/serial_speed_posix.h"
#include "platform/serial_device.h"
#include "tests/link_fixture.h"
#include "tests/platform_test_support.h"

namespace kel {
namespace {

// A pseudo-terminal whose slave is COM5 in a temporary PONDERIXCOMDIR; the
// test holds the master and plays the far end.
class PtyPort : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    const char* slave = ptsname(master_);
    ASSERT_NE(slave, nullptr);
    ASSERT_EQ(symlink(slave, dir_.File("com5").c_str()), 0);
    SetProcessEnvironment("PONDERIXCOMDIR", dir_.path().c_str());
  }
  void TearDown() override {
    SetProcessEnvironment("PONDERIXCOMDIR", nullptr);
    if (master_ >= 0) close(master_);
  }

  std::unique_ptr<SerialDevice> Open(int port, SerialConfig config, SerialOpenError& error) {
    return SystemSerialPorts().Open(port, config, error);
  }
  std::string ReadMaster(size_t want) {
    std::string got;
    while (got.size() < want) {
      pollfd fd = {master_, POLLIN, 0};
      if (poll(&fd, 1, 1000) <= 0) break;
      char buf[256];
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }
  void WriteMaster(const std::string& text) {
    ASSERT_EQ(write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // Some kernels force pseudo-terminals to no parity; parity can only be
  // checked where the setting sticks.
  bool ParityVisible() {
    termios tio{};
    if (tcgetattr(master_, &tio) != 0) return false;
    if (tio.c_cflag & PARENB) return true;
    termios probe = tio;
    probe.c_cflag |= PARENB;
    tcsetattr(master_, TCSANOW, &probe);
    termios back{};
    tcgetattr(master_, &back);
    const bool kept = (back.c_cflag & PARENB) != 0;
    tcsetattr(master_, TCSANOW, &tio);
    return kept;
  }

  TemporaryFolder dir_;
  int master_ = -1;
};

TEST_F(PtyPort, OpensConfiguresAndMovesBytesBothWays) {
  SerialOpenError error;
  SerialConfig config;
  config.baudRate = 250000;  // no B-constant for this rate
  config.parityOn = config.evenParity = true;
  auto device = Open(5, config, error);
  ASSERT_NE(device, nullptr) << error.systemText;

  int32_t speed = 0;
  ASSERT_TRUE(GetLineSpeed(master_, speed));  // a pty's ends share the slave's settings
  EXPECT_EQ(speed, 250000);
  termios tio{};
  ASSERT_EQ(tcgetattr(master_, &tio), 0);
  if (ParityVisible()) {
    EXPECT_TRUE(tio.c_cflag & PARENB);
    EXPECT_FALSE(tio.c_cflag & PARODD);
  }
  EXPECT_TRUE(tio.c_cflag & CSTOPB);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));

  const uint8_t out[] = {0x01, 0x41, 0xC0, 0x10};
  EXPECT_EQ(device->Write(out, 4), 4);
  EXPECT_TRUE(device->Drain(1000));
  EXPECT_EQ(ReadMaster(4), std::string("\x01\x41\xC0\x10", 4));

  uint8_t in[8];
  EXPECT_EQ(device->Read(in, sizeof in), 0);  // nothing waiting: no block
  EXPECT_FALSE(device->WaitReadable(5));
  WriteMaster("ok");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(device->WaitReadable(1000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(device->Read(in, sizeof in), 2);

  EXPECT_TRUE(device->SetSpeedInPlace(128000));
  ASSERT_TRUE(GetLineSpeed(master_, speed));
  EXPECT_EQ(speed, 128000);
  LineErrors errors;
  EXPECT_TRUE(device->TakeLineErrors(errors));
  EXPECT_FALSE(errors.any());
}

// A port whose far end has gone (here the pseudo-terminal's master closed)
// waits out its time, rather than answering "readable" at once, again and
// again, to reads that give nothing: a receive spun until its timeout.
TEST_F(PtyPort, AWaitOnAPortWhoseFarEndHasGoneTakesItsTime) {
  SerialOpenError error;
  auto device = Open(5, SerialConfig{}, error);
  ASSERT_NE(device, nullptr) << error.systemText;
  close(master_);
  master_ = -1;
  const auto start = std::chrono::steady_clock::now();
  device->WaitReadable(300);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
}

// A pseudo-terminal has no modem lines: CTS reads low, unless PONDERIXCTS=1
// (read when the port opens) says such a port counts as raising it.
TEST_F(PtyPort, CtsOfAPortWithoutModemLinesFollowsPonderixCts) {
  SerialOpenError error;
  for (const char* value : {static_cast<const char*>(nullptr), "0", "1"}) {
    SetProcessEnvironment("PONDERIXCTS", value);
    auto device = Open(5, SerialConfig{}, error);
    ASSERT_NE(device, nullptr) << error.systemText;
    EXPECT_EQ(device->Cts(), value != nullptr && value[0] == '1') << (value ? value : "unset");
  }
  SetProcessEnvironment("PONDERIXCTS", nullptr);
}

TEST_F(PtyPort, MissingAndBusyPortsGiveTheirOutcomes) {
  SerialOpenError error;
  EXPECT_EQ(Open(6, SerialConfig{}, error), nullptr);
  EXPECT_EQ(error.outcome, SerialOpenOutcome::kNotPresent);
  EXPECT_EQ(error.systemText, "No such file or directory");

  auto first = Open(5, SerialConfig{}, error);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Open(5, SerialConfig{}, error), nullptr);
  EXPECT_EQ(error.outcome, SerialOpenOutcome::kInUse) << error.systemText;
  first.reset();
  EXPECT_NE(Open(5, SerialConfig{}, error), nullptr);
}

// The next opener finds the port as this one found it: no exclusive mode
// left on (it outlives the close on a pseudo-terminal and would lock out
// every user but root), and the terminal's own settings back.
TEST_F(PtyPort, ClosingLeavesThePortAsItWasFound) {
  const int slave = open(ptsname(master_), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(slave, 0);
  termios before{};
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  before.c_lflag |= ECHO | ICANON;
  cfsetspeed(&before, B4800);
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
  ASSERT_EQ(tcgetattr(slave, &before), 0);

  SerialOpenError error;
  auto device = Open(5, SerialConfig{}, error);
  ASSERT_NE(device, nullptr) << error.systemText;
  int exclusive = 0;
  ASSERT_EQ(ioctl(slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
  device.reset();

  ASSERT_EQ(ioctl(slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  termios after{};
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B4800));
  close(slave);
}

TEST_F(PtyPort, CommPortOverAPseudoTerminal) {
  LinkFixture f;
  TemporaryFolder locks;
  f.env.Set("PONDERIXLOCKDIR", locks.path());
  f.options.portNumber = 5;
  CommPort port(f.runtime, SystemSerialPorts());
  ASSERT_TRUE(port.OpenPort());
  EXPECT_TRUE(FileExists(locks.File("lockPonderixCommPort5")));

  // A second program on the same port is refused and leaves the marker alone.
  LinkFixture g;
  g.options.portNumber = 5;
  g.options.debug = g.options.detailedDebug = false;
  CommPort other(g.runtime, SystemSerialPorts());
  other.settings().receiveTimeoutMs = 0;
  EXPECT_FALSE(other.OpenCommPort(5, 19200, 2, false, false, false, 0));
  EXPECT_EQ(other.lastOpenError().outcome, SerialOpenOutcome::kInUse);

  f.options.initialBaudRate = 115200;
  f.options.evenParity = true;
  ASSERT_TRUE(port.ChangeBaudRate());
  int32_t speed = 0;
  ASSERT_TRUE(GetLineSpeed(master_, speed));
  EXPECT_EQ(speed, 115200);
  termios tio{};
  ASSERT_EQ(tcgetattr(master_, &tio), 0);
  if (ParityVisible()) {
    EXPECT_TRUE(tio.c_cflag & PARENB);
  }
  EXPECT_TRUE(tio.c_cflag & CSTOPB);

  // A request out, a reply in, through the packet layer's buffers.
  const uint8_t request[] = {0x01, 0x41, 0xC0, 0x10};
  EXPECT_EQ(port.WriteCommPortOverlapped(request, 4), 4);
  EXPECT_TRUE(port.FlushPendingWrites());
  EXPECT_EQ(ReadMaster(4).size(), 4u);
  WriteMaster(std::string("\x01\x41\xC0\x10\x99", 5));
  port.settings().receiveTimeoutMs = 1000;
  uint8_t reply[4];
  EXPECT_EQ(port.ReceiveBlock(reply, 4), 4u);
  EXPECT_EQ(port.receiveHeld(), 1u);

  port.ClosePort();
  EXPECT_FALSE(FileExists(locks.File("lockPonderixCommPort5")));
}

}  // namespace
}  // namespace kel
