#include "unit/unit_connection.h"

#include <gtest/gtest.h>

#include "tests/connect_fixture.h"
#include "unit/rpc_identification.h"
#include "unit/rpc_reset.h"
#include "unit/unit_probe.h"

namespace kel {
namespace {

// A KD4 display at address 2 with two KT5 transmitters behind it.
constexpr char kDisplayWithTwoTransmitters[] = R"(
[unit kd4]
place = connected
card = 653
software = 6.10r57
modbus = 2
address = 2
serial = 100
info = Panel
[unit left]
place = network
card = 659
software = 6.10r57
modbus = 7
address = 7
serial = 701
info = Left silo
[unit right]
place = network
card = 659
software = 6.10r57
modbus = 9
address = 9
serial = 901
info = Right silo
)";

TEST(ConnectToUnit, ReadsTheIdentityAndSettlesOnTheLongTimeout) {
  ConnectFixture f;
  f.Serve(3, kLoneKt5);
  f.Connect();
  EXPECT_EQ(f.unit.cardNumber, 659);
  EXPECT_EQ(f.unit.unitType, unitTypeTransmitter);
  EXPECT_EQ(f.unit.softwareVersion, 610);
  EXPECT_TRUE(f.state.software604OrLater);
  EXPECT_EQ(f.port.settings().receiveTimeoutMs, kLongTimeoutMs);
  EXPECT_NE(f.Console().find("Connecting to Ponderix unit...\r\n"), std::string::npos);
}

TEST(ConnectToUnit, FailsAtOnceWithoutAnOpenPort) {
  ConnectFixture f;
  const uint32_t start = f.clock.Ticks();
  EXPECT_FALSE(ConnectToUnit(f.link, f.unit));
  EXPECT_EQ(f.clock.Ticks(), start);  // no 90-second wait for a power cycle
}

TEST(ConnectToUnit, ABootLoaderIsReadThroughItsOwnCalls) {
  ConnectFixture f;
  f.Serve(3, std::string(kLoneKt5) + "role = boot-loader\nboot-loader = 4r18\n");
  f.Connect();
  EXPECT_EQ(f.unit.connectionMode, modePonderixBootLoader);
  EXPECT_EQ(f.unit.mcuType, mcuLPC4337);
  EXPECT_EQ(f.unit.bootLoaderVersion, 4);
  EXPECT_EQ(f.unit.bootLoaderRelease, 18);
}

TEST(ConnectToUnit, ABootLoaderThatKeepsItsIdentityEndsTheRunSayingSo) {
  ConnectFixture f;
  f.Serve(3, std::string(kLoneKt5) +
                 "role = boot-loader\n[port]\nfault = drop-request command=0x1010 times=0\n");
  ASSERT_TRUE(f.Open(3));
  ASSERT_TRUE(CheckUnitId(f.link, f.unit));
  EXPECT_EQ(f.ExitCodeOf([&] { ConnectToUnit(f.link, f.unit); }), 1);
  EXPECT_NE(f.Console().find("Fatal Error: Unable to read the unit information from the boot "
                             "loader\r\n"),
            std::string::npos);
}

TEST(ReconnectUnit, FindsTheDirectUnitAgainAfterItsRestart) {
  ConnectFixture f;
  f.Serve(3, kLoneKt5);
  f.Connect();
  ASSERT_TRUE(Reset(f.link, f.unit));
  EXPECT_EQ(f.unit.connectionMode, modeUnknown);
  ASSERT_TRUE(ReconnectUnit(f.link, f.unit));
  EXPECT_EQ(f.unit.connectionMode, modeApplication);
  EXPECT_EQ(f.unit.serialNumber, 4711);
  EXPECT_NE(f.Console().find("Reconnecting to unit 5\r\n"), std::string::npos);
  EXPECT_EQ(f.port.settings().receiveTimeoutMs, kLongTimeoutMs);
}

TEST(ReconnectUnit, GivesUpOnASilentUnitAfterAMinute) {
  ConnectFixture f;
  sim::SimNetwork& network = f.Serve(3, kLoneKt5);
  f.Connect();
  network.SetUnplugged(true);
  const uint32_t start = f.clock.Ticks();
  EXPECT_FALSE(ReconnectUnit(f.link, f.unit));
  EXPECT_GE(f.clock.Ticks() - start, 60000u);
  EXPECT_LT(f.clock.Ticks() - start, 64000u);
  EXPECT_NE(f.Console().find(".\r\n"), std::string::npos);  // progress dots, then the line end
}

// Connects to the display and reads the left transmitter behind it into `remote`.
void ReadLeftTransmitter(ConnectFixture& f, UnitInfo& remote) {
  f.Serve(3, kDisplayWithTwoTransmitters);
  f.Connect();
  remote.connectionMode = modeApplication;
  remote.unitAddress = 7;
  ASSERT_TRUE(ReadUnitInfo(f.link, remote));
}

TEST(ReconnectUnit, FindsARemoteUnitOfTheSameKindInTheListing) {
  ConnectFixture f;
  UnitInfo remote;
  ASSERT_NO_FATAL_FAILURE(ReadLeftTransmitter(f, remote));
  ASSERT_TRUE(ReconnectUnit(f.link, remote));
  EXPECT_EQ(remote.unitAddress, 7);
  EXPECT_EQ(remote.serialNumber, 701);
}

TEST(ReconnectUnit, TwoMatchingRemoteUnitsEndTheRun) {
  ConnectFixture f;
  UnitInfo remote;
  ASSERT_NO_FATAL_FAILURE(ReadLeftTransmitter(f, remote));
  // The restarted transmitter came back at an address the listing lacks,
  // and both transmitters on the network are of its kind.
  remote.unitAddress = 30;
  EXPECT_EQ(f.ExitCodeOf([&] { ReconnectUnit(f.link, remote); }), 1);
  const std::string out = f.Console();
  EXPECT_NE(out.find("Checking Ponderix Unit: 7\r\n"), std::string::npos);
  EXPECT_NE(out.find("-- found matching unit: 7\r\n"), std::string::npos);
  EXPECT_NE(out.find("Fatal Error: Found more than one unit that matches the product type, "
                     "unable to complete update"),
            std::string::npos);
}

TEST(TestCts, ReportsWhetherTheUnitRaisesCtsWithinASecond) {
  ConnectFixture f;
  f.Serve(3, std::string(kLoneKt5) + "cts = 400\n");
  ASSERT_TRUE(f.Open(3));
  EXPECT_TRUE(TestCts(f.link));
  EXPECT_NE(f.Console().find("-- CTS signal received from unit\r\n"), std::string::npos);

  ConnectFixture g;
  g.Serve(3, kLoneKt5);
  ASSERT_TRUE(g.Open(3));
  const uint32_t start = g.clock.Ticks();
  EXPECT_FALSE(TestCts(g.link));
  EXPECT_GT(g.clock.Ticks() - start, 1000u);
  EXPECT_NE(g.Console().find("-- no CTS signal received from unit, overlapped mode disabled\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace kel
