#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/clock.h"
#include "platform/serial_device.h"
#include "sim/pty_server.h"
#include "sim/sim_test_support.h"

namespace kel::sim {
namespace {

using testing::WithCrc;

// Serves a one-unit scenario on a pseudo-terminal and talks to it through
// the platform's own serial port, as the program does.
class PtyServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("simcore-pty-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           "-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    std::filesystem::create_directories(dir);
    const char* old = std::getenv("PONDERIXCOMDIR");
    if (old) saved = old;
    hadOld = old != nullptr;
    setenv("PONDERIXCOMDIR", dir.c_str(), 1);
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenario("[unit kt5]\ncard = 659\nmodbus = 5\nbaud = 19200\n", s, error))
        << error;
    ASSERT_TRUE(server.AddPort(4, s, dir.string(), "", error)) << error;
  }
  void TearDown() override {
    server.RemoveLinks();
    if (hadOld)
      setenv("PONDERIXCOMDIR", saved.c_str(), 1);
    else
      unsetenv("PONDERIXCOMDIR");
    std::filesystem::remove_all(dir);
  }
  std::vector<uint8_t> Exchange(SerialDevice& port, const std::vector<uint8_t>& request,
                                size_t want) {
    port.Write(request.data(), request.size());
    std::vector<uint8_t> got;
    // Bounded by time, not by steps: a wait may end early (a stop signal
    // left pending in the test process ends the system clock's waits).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
      server.Step(5);
      uint8_t buffer[64];
      const int n = port.Read(buffer, sizeof buffer);
      if (n > 0) got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

  PtyServer server{SystemClock()};
  std::filesystem::path dir;
  std::string saved;
  bool hadOld = false;
};

TEST_F(PtyServerTest, AnswersAtTheUnitsSpeedOnlyAndRemovesItsLink) {
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "com4"));
  SerialConfig config;
  config.baudRate = 19200;
  SerialOpenError error;
  {
    auto port = SystemSerialPorts().Open(4, config, error);
    ASSERT_TRUE(port) << error.systemText;
    EXPECT_EQ(Exchange(*port, WithCrc({0x05, 0x41}), 4), WithCrc({0x05, 0x42}));
  }
  config.baudRate = 9600;
  {
    auto port = SystemSerialPorts().Open(4, config, error);
    ASSERT_TRUE(port) << error.systemText;
    EXPECT_TRUE(Exchange(*port, WithCrc({0x05, 0x41}), 4).empty());
  }
  server.RemoveLinks();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir / "com4")));
}

// With the line model a reply takes its line time; read after the program
// moved to another speed, it arrives garbled rather than intact.
TEST_F(PtyServerTest, AReplyReadAtAnotherSpeedArrivesGarbled) {
  server.network(0).SetLineModel(true);
  SerialConfig config;
  config.baudRate = 19200;
  SerialOpenError error;
  auto port = SystemSerialPorts().Open(4, config, error);
  ASSERT_TRUE(port) << error.systemText;
  const auto request = WithCrc({0x05, 0x45, 0x10, 0x10});
  port->Write(request.data(), request.size());
  port->Drain(100);
  server.Step(0);  // taken in; the reply is due some 12 ms later
  config.baudRate = 9600;
  port.reset();
  port = SystemSerialPorts().Open(4, config, error);
  ASSERT_TRUE(port) << error.systemText;
  const auto got = Exchange(*port, {}, 14);
  ASSERT_EQ(got.size(), 14u);
  const auto intact =
      WithCrc({0x05, 0x45, 0x10, 0x10, 0x02, 0x93, 0x00, 0x01, 0x02, 0x62, 0x00, 0x39});
  EXPECT_NE(got, intact);
}

// Behind a modelled USB adapter a short reply waits for the adapter's
// timer before the program sees it.
TEST_F(PtyServerTest, AReplyThroughAnAdapterWaitsForItsTimer) {
  Scenario s;
  std::string error;
  ASSERT_TRUE(ParseScenario("[port]\nadapter = latency-ms=40\n[unit kt5]\ncard = 659\n"
                            "modbus = 5\nbaud = 19200\n",
                            s, error))
      << error;
  ASSERT_TRUE(server.AddPort(5, s, dir.string(), "", error)) << error;
  SerialConfig config;
  config.baudRate = 19200;
  SerialOpenError openError;
  auto port = SystemSerialPorts().Open(5, config, openError);
  ASSERT_TRUE(port) << openError.systemText;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange(*port, WithCrc({0x05, 0x41}), 4), WithCrc({0x05, 0x42}));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
}

// The control channel: a command file is taken, carried out and answered
// in the reply file beside it.
TEST_F(PtyServerTest, TakesCommandsFromTheControlFile) {
  const std::string control = (dir / "control").string();
  server.SetControlFile(control);
  std::ofstream(control) << "boot-loader COM4 4r18\n";
  server.Step(0);
  EXPECT_FALSE(std::filesystem::exists(control));
  std::ifstream reply(control + ".reply");
  std::string line;
  std::getline(reply, line);
  EXPECT_EQ(line, "error: line 1: COM4: holds no blank chip");
}

}  // namespace
}  // namespace kel::sim
