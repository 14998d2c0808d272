#include "link/comm_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/link_fixture.h"
#include "tests/platform_test_support.h"

namespace kel {
namespace {

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// An opener that fails with a fixed code for a number of attempts, then
// hands out a line of its own.
class FlakyOpener : public SerialPortOpener {
 public:
  explicit FlakyOpener(Clock& clock) : ports_(clock) { ports_.AddLine(3); }
  std::unique_ptr<SerialDevice> Open(int port, const SerialConfig& config,
                                     SerialOpenError& error) override {
    ++attempts;
    if (failures > 0) {
      --failures;
      error.outcome = SerialOpenOutcome::kInUse;
      return nullptr;
    }
    return ports_.Open(port, config, error);
  }
  int failures = 0;
  int attempts = 0;

 private:
  MemorySerialPorts ports_;
};

class CommPortTest : public ::testing::Test, public LinkFixture {};

TEST_F(CommPortTest, LockMarkerExistsOnlyWhileOpen) {
  TemporaryFolder dir;
  env.Set("PONDERIXLOCKDIR", dir.path());
  const std::string marker = dir.File("lockPonderixCommPort3");

  ASSERT_TRUE(port.OpenPort());
  EXPECT_TRUE(FileExists(marker));
  EXPECT_EQ(port.settings().lockFilePath, marker);
  port.ClosePort();
  EXPECT_FALSE(FileExists(marker));
  EXPECT_TRUE(port.settings().lockFilePath.empty());

  // A failed open makes no marker.
  options.portNumber = 4;
  EXPECT_FALSE(port.OpenPort());
  EXPECT_FALSE(FileExists(dir.File("lockPonderixCommPort4")));
  EXPECT_NE(Console().find("COM4 is not present on this computer"), std::string::npos);

  // A folder that already ends in a separator gets no second one.
  options.portNumber = 3;
  env.Set("PONDERIXLOCKDIR", dir.path() + PathSeparator());
  ASSERT_TRUE(port.OpenPort());
  EXPECT_EQ(port.settings().lockFilePath, marker);
  EXPECT_TRUE(FileExists(marker));
  port.ClosePort();
}

TEST_F(CommPortTest, UnwritableLockFolderDoesNotStopTheOpen) {
  env.Set("PONDERIXLOCKDIR", "/nonexistent-kel-folder");
  EXPECT_TRUE(port.OpenPort());
  EXPECT_NE(Console().find("Cannot create lock file /nonexistent-kel-folder"), std::string::npos);
}

TEST_F(CommPortTest, BusyPortIsRetriedWithDots) {
  options.debug = options.detailedDebug = false;  // dots only
  // Busy for 3 s: about 30 dots, then open.
  line.busyUntil = clock.Ticks() + 3000;
  ASSERT_TRUE(port.OpenPort());
  EXPECT_GE(Occurrences(Console(), "."), 29u);
  EXPECT_LE(Occurrences(Console(), "."), 32u);
  port.ClosePort();

  // Busy for more than 10 s: 100 dots, a line break, failure.
  console.ClearOutput();
  line.busyUntil = clock.Ticks() + 20000;
  EXPECT_FALSE(port.OpenPort());
  EXPECT_EQ(Occurrences(Console(), "."), 100u);
  EXPECT_FALSE(port.isOpen());
}

// Only the run that made the marker deletes it: a run that finds the port
// busy (or is stopped during its dots) leaves the holder's marker alone.
TEST_F(CommPortTest, ARunOnABusyPortLeavesTheHoldersMarker) {
  TemporaryFolder dir;
  env.Set("PONDERIXLOCKDIR", dir.path());
  const std::string marker = dir.File("lockPonderixCommPort3");
  ASSERT_TRUE(WriteTextFile(marker, "held"));
  line.busyUntil = clock.Ticks() + 100000;
  EXPECT_FALSE(port.OpenPort());
  port.ClosePort();
  EXPECT_EQ(ReadTextFile(marker), "held");
  EXPECT_TRUE(port.settings().lockFilePath.empty());
}

TEST_F(CommPortTest, SecondOpenerOfAnOpenLineIsRefusedAsBusy) {
  ASSERT_TRUE(port.OpenPort());
  SerialOpenError error;
  SerialConfig config;
  EXPECT_EQ(ports.Open(3, config, error), nullptr);
  EXPECT_EQ(error.outcome, SerialOpenOutcome::kInUse);
}

TEST_F(CommPortTest, APortTheUserMayNotOpenFailsAtOnceWithoutDots) {
  line.openFailure = SerialOpenOutcome::kPermissionDenied;
  line.openFailureText = "Permission denied";
  const uint32_t start = clock.Ticks();
  EXPECT_FALSE(port.OpenPort());
  EXPECT_EQ(clock.Ticks(), start);
  EXPECT_EQ(port.lastOpenError().outcome, SerialOpenOutcome::kPermissionDenied);
  EXPECT_EQ(Occurrences(Console(), "OpenPort opening comm port"), 1u);  // tried once, no dots
  EXPECT_NE(Console().find("COM3 cannot be opened: Permission denied (memory line 3). To use it, "
                           "add the user to the group that owns it"),
            std::string::npos);
}

TEST_F(CommPortTest, ProgrammerRateIsProvedAtOpen) {
  options.programmingBaudRate = 921600;
  line.maxBaudRate = 115200;
  EXPECT_FALSE(port.OpenPort());
  EXPECT_NE(Console().find("COM3 does not support requested baud rate"), std::string::npos);

  line.maxBaudRate = 0;
  ASSERT_TRUE(port.OpenPort());
  EXPECT_NE(Console().find("OpenPort using programmer baud rate 921600"), std::string::npos);
  EXPECT_EQ(line.config.baudRate, 19200);  // reopened at the current speed
}

TEST_F(CommPortTest, ChangeBaudRateReopensWithCurrentSettings) {
  ASSERT_TRUE(port.OpenPort());
  options.initialBaudRate = 115200;
  options.evenParity = true;
  port.settings().hardwareHandshake = true;
  ASSERT_TRUE(port.ChangeBaudRate());
  EXPECT_EQ(line.config.baudRate, 115200);
  EXPECT_TRUE(line.config.parityOn);
  EXPECT_TRUE(line.config.evenParity);
  EXPECT_TRUE(line.config.ctsFlow);
  EXPECT_EQ(line.config.stopBits, 2);

  line.maxBaudRate = 115200;
  options.initialBaudRate = 230400;
  EXPECT_FALSE(port.ChangeBaudRate());
  EXPECT_NE(Console().find("Error re-opening port: COM3 does not support requested baud rate"),
            std::string::npos);
}

TEST(CommPortReopen, TwentyFailedReopensAreFatal) {
  LinkFixture f;
  FlakyOpener opener(f.clock);
  CommPort port(f.runtime, opener);
  ASSERT_TRUE(port.OpenPort());
  opener.failures = 1000;
  opener.attempts = 0;
  EXPECT_THROW(port.ChangeBaudRate(), ExitRequested);
  EXPECT_EQ(opener.attempts, 20);
  EXPECT_NE(f.Console().find("Fatal Error: Error re-opening port: COM3 is being used by another "
                             "application\r\n"),
            std::string::npos);

  // A reopen that succeeds after a few failures goes on.
  opener.failures = 3;
  EXPECT_TRUE(port.ChangeBaudRate());
}

TEST_F(CommPortTest, APortThatGoesAwayMidRunIsNamedWhenTheRunEnds) {
  ASSERT_TRUE(port.OpenPort());
  line.unplugged = true;
  uint8_t got[4];
  EXPECT_EQ(port.ReadCommPortOverlapped(got, 4), -1);
  EXPECT_EQ(ExitCodeOf([&] { port.ChangeBaudRate(); }), 1);
  EXPECT_NE(Console().find("Fatal Error: Error re-opening port: COM3 is not present on this "
                           "computer\r\n"),
            std::string::npos);
}

TEST_F(CommPortTest, ReceiveBlockKeepsSurplusAndHonoursTheTimeout) {
  ASSERT_TRUE(port.OpenPort());
  port.settings().receiveTimeoutMs = 100;
  std::vector<uint8_t> bytes(25);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
  peer.Send(bytes, 5);

  uint8_t got[32] = {};
  EXPECT_EQ(port.ReceiveBlock(got, 10), 10u);
  EXPECT_EQ(got[9], 9);
  EXPECT_EQ(port.receiveHeld(), 15u);
  EXPECT_EQ(port.ReceiveBlock(got, 10), 10u);
  EXPECT_EQ(got[0], 10);

  // Five remain; the other five never come: the call ends at the timeout,
  // counted from its start, not from the last byte.
  peer.Send({0xAA, 0xBB}, 50);
  const uint32_t start = clock.Ticks();
  EXPECT_EQ(port.ReceiveBlock(got, 10), 7u);
  EXPECT_EQ(got[6], 0xBB);
  EXPECT_EQ(clock.Ticks() - start, 101u);
  EXPECT_EQ(port.totalReceived, 27u);

  // A timeout of 0 still gives one poll.
  port.settings().receiveTimeoutMs = 0;
  peer.Send({0x42}, 3);
  EXPECT_EQ(port.ReceiveBlock(got, 4), 1u);
  EXPECT_EQ(got[0], 0x42);
  const uint32_t before = clock.Ticks();
  EXPECT_EQ(port.ReceiveBlock(got, 4), 0u);
  EXPECT_EQ(clock.Ticks() - before, CommPort::kPollMs);
}

TEST_F(CommPortTest, ReplyIsSeenAsSoonAsItArrives) {
  ASSERT_TRUE(port.OpenPort());
  port.settings().receiveTimeoutMs = 1000;
  peer.Send({1, 2, 3, 4}, 3);
  const uint32_t start = clock.Ticks();
  uint8_t got[4];
  EXPECT_EQ(port.ReceiveBlock(got, 4), 4u);
  EXPECT_EQ(clock.Ticks() - start, 3u);
  EXPECT_EQ(port.ReadCommPortExact(got, 4), 0);
  peer.Send({9, 8}, 1);
  EXPECT_EQ(port.ReadCommPortExact(got, 2), 2);
}

TEST_F(CommPortTest, TransfersAndLineErrorsGoToTheErrorHook) {
  out.chipProbeCounter = 1;
  ASSERT_TRUE(port.OpenPort());
  std::vector<uint8_t> data(20, 0xAB);
  EXPECT_EQ(port.WriteCommPortOverlapped(data.data(), data.size()), 20);
  EXPECT_EQ(peer.received.size(), 20u);
  EXPECT_NE(Console().find("<WriteCommPortOverlapped(20) AB AB AB AB AB AB AB AB AB AB AB AB AB "
                           "AB AB AB AB...>"),
            std::string::npos);
  peer.Send({0x01, 0x41});
  uint8_t got[2];
  EXPECT_EQ(port.ReadCommPortOverlapped(got, 2), 2);
  EXPECT_NE(Console().find("[ReadCommPortOverlapped(2) 01 41]"), std::string::npos);

  line.pendingErrors.overrun = true;
  line.pendingErrors.parity = true;
  port.PurgeAndReportErrors();
  EXPECT_NE(Console().find("Comm port overrun"), std::string::npos);
  EXPECT_EQ(Console().find("Comm port parity error"), std::string::npos);
}

TEST_F(CommPortTest, TransmitBlockTakesOnlyWhatFits) {
  std::vector<uint8_t> block(40000, 1);
  EXPECT_EQ(port.TransmitBlock(block.data(), block.size()), 40000u);
  EXPECT_EQ(port.TransmitBlock(block.data(), block.size()), CommPort::kBufferSize - 40000);
  EXPECT_NE(Console().find("<TRANSMIT BUFFER OVERFLOW>"), std::string::npos);
  EXPECT_EQ(port.transmitCount(), CommPort::kBufferSize);
}

TEST_F(CommPortTest, RuntimeCanClosePortAndLock) {
  TemporaryFolder dir;
  env.Set("PONDERIXLOCKDIR", dir.path());
  ASSERT_TRUE(port.OpenPort());
  ASSERT_TRUE(static_cast<bool>(runtime.closePort));
  runtime.closePort();
  EXPECT_FALSE(port.isOpen());
  EXPECT_FALSE(line.isOpen);
  EXPECT_FALSE(FileExists(dir.File("lockPonderixCommPort3")));
}

}  // namespace
}  // namespace kel
