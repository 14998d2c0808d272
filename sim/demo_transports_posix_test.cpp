// The demo network served by the simulator program on a pseudo-terminal,
// driven by the scripted client through the platform's serial port: the
// same sessions as in-process, now across a real terminal with real time.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>


#include "platform/clock.h"
#include "platform/serial_device.h"
#include "tests/sim_client_checks.h"

namespace kel::sim {
namespace {

namespace fs = std::filesystem;
using simclient::MemoryTransport;

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// The display restarts in 100 ms here (300 in the shipped scenario) to keep
// the real-time test short; the client waits with a margin.
constexpr uint32_t kRestartMs = 160;

// Starts `ponderix-sim` on the demo scenario (the display restarting
// faster and its programmer answering windowed writes late) in a fresh comdir, and points the serial
// port layer at it.
class DemoOverPty : public ::testing::Test {
 protected:
  void SetUp() override {
#if !defined(KEL_SIM_PATH)
    GTEST_SKIP() << "the simulator program is not part of this build";
#else
    dir = fs::temp_directory_path() / ("demo-pty-" + std::to_string(std::random_device{}()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "com");
    std::ifstream in(std::string(KEL_SOURCE_DIR) + "/sim/scenarios/demo.scn");
    std::stringstream text;
    text << in.rdbuf();
    std::string scenario = text.str();
    const std::string section = "[unit kd4]\n";
    const size_t at = scenario.find(section);
    ASSERT_NE(at, std::string::npos);
    scenario.insert(at + section.size(), "late-windowed = yes\n");
    const size_t restart = scenario.find("restart-ms = 300");
    ASSERT_NE(restart, std::string::npos);
    scenario.replace(restart, 16, "restart-ms = 100");
    std::ofstream(dir / "demo.scn") << scenario;

    const std::string command = Quoted(KEL_SIM_PATH) + " --scenario " + Quoted((dir / "demo.scn").string()) +
                                " --comdir " + Quoted((dir / "com").string()) + " --exit-after-idle 30 >" +
                                Quoted((dir / "sim.log").string()) + " 2>&1 & echo $! >" +
                                Quoted((dir / "sim.pid").string());
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream(dir / "sim.pid") >> simPid;
    for (int i = 0; i < 200 && !fs::exists(dir / "com" / "com3"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(fs::exists(dir / "com" / "com3"));
    const char* old = std::getenv("PONDERIXCOMDIR");
    hadOld = old != nullptr;
    if (hadOld) saved = old;
    setenv("PONDERIXCOMDIR", (dir / "com").c_str(), 1);
#endif
  }
  void TearDown() override {
    client.Close();
    if (simPid > 0) {
      const std::string command = "kill -TERM " + std::to_string(simPid) + " 2>/dev/null; while kill -0 " +
                                  std::to_string(simPid) + " 2>/dev/null; do sleep 0.02; done";
      std::system(command.c_str());
    }
    if (hadOld) {
      setenv("PONDERIXCOMDIR", saved.c_str(), 1);
    } else {
      unsetenv("PONDERIXCOMDIR");
    }
    if (!dir.empty()) fs::remove_all(dir);
  }

  fs::path dir;
  int simPid = 0;
  bool hadOld = false;
  std::string saved;
  simclient::SimClient client{SystemSerialPorts(), 3, SystemClock()};
};

TEST_F(DemoOverPty, IdentifiesWritesFilesAndFlashesInEveryTransport) {
  simclient::CheckDemoIdentification(client);
  simclient::CheckDemoFileWrites(client);
  uint32_t previous = 0;
  uint8_t seed = 1;
  for (MemoryTransport t : {MemoryTransport::kSmall, MemoryTransport::kLarge, MemoryTransport::kWindowed,
                            MemoryTransport::kBuffered}) {
    SCOPED_TRACE("transport " + std::to_string(static_cast<int>(t)));
    const uint32_t checksum =
        simclient::CheckDemoFlashSession(client, t, t, seed++, t == MemoryTransport::kWindowed, kRestartMs);
    EXPECT_NE(checksum, previous);
    previous = checksum;
  }
}

}  // namespace
}  // namespace kel::sim
