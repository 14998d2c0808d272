#include "unit/boot_loader_entry.h"

#include <gtest/gtest.h>

#include "tests/connect_fixture.h"
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
