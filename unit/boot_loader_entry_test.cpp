#include "unit/boot_loader_entry.h"

#include <gtest/gtest.h>

#include "tests/connect_fixture.h"
#include "tests/unit_fixture.h"
#include "unit/unit_connection.h"
#include "unit/unit_probe.h"

namespace kel {
namespace {

TEST(InitialiseForUpdate, RestartsRunningSoftwareIntoItsBootLoader) {
  ConnectFixture f;
  f.Serve(3, std::string(kLoneKt5) + "boot-loader = 4r18\nbuffer-size = 512\n");
  f.Connect();
  ASSERT_TRUE(InitialiseForUpdate(f.link, f.unit));
  EXPECT_EQ(f.unit.connectionMode, modePonderixBootLoader);
  EXPECT_EQ(f.unit.bootLoaderRelease, 18);
  EXPECT_EQ(f.unit.bufferSize, 512u);
  const std::string out = f.Console();
  // Software 6.00 or later is first moved to 9600 baud with the link.
  EXPECT_NE(out.find("Ponderix baud rate 9600 specified"), std::string::npos);
  EXPECT_NE(out.find("RPC: GotoBootLoader\r\nCOMPLETE\r\n"), std::string::npos);
  EXPECT_NE(out.find("COMPLETE: Size=512\r\n"), std::string::npos);
  // No power cycle was needed.
  EXPECT_EQ(out.find("please turn the unit power off and on"), std::string::npos);
}

// A restart that takes longer than the first second of listening: found by
// the probe that follows it, or by listening on, never by a power cycle.
TEST(InitialiseForUpdate, ASlowRestartIsWaitedForWithoutAPowerCycle) {
  for (const char* restartMs : {"1200", "3000"}) {
    SCOPED_TRACE(restartMs);
    ConnectFixture f;
    f.Serve(3, std::string(kLoneKt5) + "restart-ms = " + restartMs + "\n");
    f.Connect();
    ASSERT_TRUE(InitialiseForUpdate(f.link, f.unit));
    EXPECT_EQ(f.unit.connectionMode, modePonderixBootLoader);
    const std::string out = f.Console();
    EXPECT_EQ(out.find("please turn the unit power off and on"), std::string::npos) << out;
    const size_t gotoLine = out.find("RPC: GotoBootLoader");
    EXPECT_EQ(out.find("RPC: GotoBootLoader", gotoLine + 1), std::string::npos) << out;
  }
}

// A unit that answers as a boot loader is in its boot loader already.
TEST(InitialiseForUpdate, AUnitInItsBootLoaderIsNotSentThereAgain) {
  ConnectFixture f;
  f.Serve(3, std::string(kLoneKt5) + "role = boot-loader\n");
  f.Connect();
  ASSERT_EQ(f.unit.connectionMode, modePonderixBootLoader);
  ASSERT_TRUE(InitialiseForUpdate(f.link, f.unit));
  EXPECT_EQ(f.unit.connectionMode, modePonderixBootLoader);
  const std::string out = f.Console();
  EXPECT_EQ(out.find("GotoBootLoader"), std::string::npos) << out;
  EXPECT_EQ(out.find("please turn the unit power off and on"), std::string::npos) << out;
}

TEST(InitialiseForUpdate, OlderSoftwareKeepsItsSpeedBeforeTheRestart) {
  ConnectFixture f;
  f.Serve(3, std::string(kLoneKt5) + "software = 5.90r10\n");
  f.Connect();
  ASSERT_TRUE(InitialiseForUpdate(f.link, f.unit));
  EXPECT_EQ(f.unit.connectionMode, modePonderixBootLoader);
  EXPECT_EQ(f.Console().find("Ponderix baud rate"), std::string::npos);
}

TEST(InitialiseForUpdate, NoReplyToGotoBootLoaderAsksForAPowerCycle) {
  ConnectFixture f;
  sim::SimNetwork& network = f.Serve(3, std::string(kLoneKt5) + "software = 5.90r10\n");
  f.Connect();
  network.SetUnplugged(true);
  EXPECT_FALSE(InitialiseForUpdate(f.link, f.unit));
  const std::string out = f.Console();
  const size_t gotoLine = out.find("RPC: GotoBootLoader\r\n");
  ASSERT_NE(gotoLine, std::string::npos);
  EXPECT_NE(out.find("Attempting to connect to boot loader, please turn the unit power off and on "
                     "now\r\n",
                     gotoLine),
            std::string::npos);
  // Straight to the power cycle: GotoBootLoader was tried in one attempt only.
  EXPECT_EQ(out.find("RPC: GotoBootLoader", gotoLine + 1), std::string::npos);
}

// Software that takes every speed request and GotoBootLoader but never
// comes up in its boot loader: every restart attempt runs, and each asks
// for its own pair of unit speed and listening speed.
TEST(InitialiseForUpdate, EachRestartAttemptTriesItsOwnPairOfSpeeds) {
  UnitFixture f;
  int32_t unitSpeed = 19200;
  f.peer.answer = [&](const std::vector<uint8_t>& request) -> std::optional<std::vector<uint8_t>> {
    if (request.size() < 2 || f.peer.speeds.back() != unitSpeed) return std::nullopt;
    if (request[1] == 0x41) return std::vector<uint8_t>{request[0], 0x42};
    if (wire::Command(request) == 0x1030) {
      unitSpeed = request[4] << 24 | request[5] << 16 | request[6] << 8 | request[7];
      return wire::Reply(request[0], 0x1030);
    }
    if (wire::Command(request) == 0x1011) return wire::Reply(request[0], 0x1011);
    return std::nullopt;
  };
  UnitInfo unit = UnitFixture::RunningUnit(5);
  EXPECT_FALSE(InitialiseForUpdate(f.link, unit));

  // For each GotoBootLoader: the speed the unit was at when asked, and the
  // speed of the first boot-loader probe after it.
  std::vector<std::pair<int32_t, int32_t>> rows;
  const auto requests = f.peer.Requests();
  for (size_t i = 0; i < requests.size(); ++i) {
    if (wire::Command(requests[i]) != 0x1011) continue;
    rows.emplace_back(f.peer.speeds[i], 0);
    for (size_t j = i + 1; j < requests.size(); ++j) {
      if (wire::Command(requests[j]) != 0x1012) continue;
      rows.back().second = f.peer.speeds[j];
      break;
    }
  }
  const std::vector<std::pair<int32_t, int32_t>> expected = {
      {9600, 9600}, {9600, 115200}, {115200, 9600}, {115200, 115200}};
  EXPECT_EQ(rows, expected);
}

TEST(WaitForBootLoader, ListensNinetySecondsAtTwoSpeeds) {
  ConnectFixture f;
  f.ports.AddLine(3);
  ASSERT_TRUE(f.Open(3));
  const uint32_t start = f.clock.Ticks();
  EXPECT_FALSE(WaitForBootLoader(f.link, f.unit));
  const uint32_t waited = f.clock.Ticks() - start;
  EXPECT_GE(waited, 90000u);
  EXPECT_LT(waited, 92000u);
  EXPECT_NE(f.Console().find("Attempting to connect to boot loader at 115200 baud, please turn the "
                             "unit power off and on now\r\n"),
            std::string::npos);
  EXPECT_EQ(f.options.unitId, 1);
}

TEST(WaitForBootLoader, EscapeEndsTheWait) {
  ConnectFixture f;
  f.ports.AddLine(3);
  ASSERT_TRUE(f.Open(3));
  f.console.AddKeys("\x1b");
  EXPECT_EQ(f.ExitCodeOf([&] { WaitForBootLoader(f.link, f.unit); }), 1);
  EXPECT_NE(f.Console().find("Fatal Error: Aborted"), std::string::npos);
}

TEST(WaitForBootLoader, FindsABootLoaderThatIsAlreadyRunning) {
  ConnectFixture f;
  f.Serve(3, std::string(kLoneKt5) + "role = boot-loader\n");
  ASSERT_TRUE(f.Open(3));
  ASSERT_TRUE(WaitForBootLoader(f.link, f.unit));
  EXPECT_EQ(f.unit.connectionMode, modePonderixBootLoader);
  EXPECT_EQ(f.unit.unitAddress, 1);
  EXPECT_NE(f.Console().find("\r\n-- Found Unit (ponderix boot loader)\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kel
