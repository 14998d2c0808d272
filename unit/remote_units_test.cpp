#include "unit/remote_units.h"

#include <gtest/gtest.h>

#include "tests/connect_fixture.h"
#include "unit/programmer_note.h"
#include "unit/proxy_switch.h"
#include "unit/rpc_identification.h"
#include "unit/unit_connection.h"
#include "unit/unit_probe.h"

namespace kel {
namespace {

std::string Unit(const std::string& name, const std::string& place, int card, int address,
                 const std::string& extra = "") {
  return "[unit " + name + "]\nplace = " + place + "\ncard = " + std::to_string(card) +
         "\nsoftware = 6.10r57\nboot-loader = 4r18\nmodbus = " + std::to_string(address) +
         "\naddress = " + std::to_string(address) + "\ninfo = " + name +
         "\nserial = " + std::to_string(1000 + address) + "\n" + extra;
}

void Connect(ConnectFixture& f, const std::string& scenario) {
  f.Serve(3, scenario);
  ASSERT_NO_FATAL_FAILURE(f.Connect());
  ReadExtendedInfo(f.link, f.unit);
  ReadAdvancedInfo(f.link, f.unit);
  f.console.ClearOutput();
}

TEST(ListUnits, TheConnectedUnitTakesItsPlaceByModbusAddress) {
  ConnectFixture f;
  Connect(f, Unit("panel", "connected", 653, 5) + Unit("a", "network", 659, 3) +
                 Unit("b", "network", 659, 7) + Unit("c", "network", 648, 9));
  std::vector<uint8_t> table;
  ASSERT_TRUE(ListUnits(f.link, f.unit, table));
  EXPECT_EQ(table, (std::vector<uint8_t>{3, 5, 7, 9}));
  const std::string out = f.Console();
  EXPECT_NE(out.find("Ponderix Unit(s) found:\r\nAddress  Information\r\n"), std::string::npos);
  const size_t a = out.find("      3  a\r\n");
  const size_t panel = out.find("      5  panel\r\n");
  const size_t c = out.find("      9  c\r\n\r\n");
  ASSERT_NE(a, std::string::npos);
  ASSERT_NE(panel, std::string::npos);
  ASSERT_NE(c, std::string::npos);
  EXPECT_LT(a, panel);
  EXPECT_LT(panel, c);
}

TEST(ListUnits, SilentUnitsAndTestJigsGetNoRow) {
  ConnectFixture f;
  Connect(f, Unit("panel", "connected", 653, 12) + Unit("jig", "network", 652, 3) +
                 Unit("gone", "network", 659, 7) +
                 "[port]\nfault = drop-request unit=gone times=0\n");
  std::vector<uint8_t> table;
  ASSERT_TRUE(ListUnits(f.link, f.unit, table));
  EXPECT_EQ(table, (std::vector<uint8_t>{12}));  // the connected unit, last
  const std::string out = f.Console();
  EXPECT_NE(out.find("-- KJ3 at address 3 ignored\r\n"), std::string::npos);
  EXPECT_NE(out.find("-- skipped address 7\r\n"), std::string::npos);
}

TEST(ListUnits, OlderSoftwareHasNothingToList) {
  ConnectFixture f;
  Connect(f, Unit("panel", "connected", 653, 5, "software = 5.90r10\n"));
  std::vector<uint8_t> table;
  EXPECT_FALSE(ListUnits(f.link, f.unit, table));
  EXPECT_TRUE(table.empty());
}

TEST(CheckRemoteUpdate, NamesWhatKeepsAUnitFromRemoteUpdates) {
  ConnectFixture f;
  UnitInfo unit;
  unit.connectionMode = modeApplication;
  unit.unitAddress = 7;
  unit.cardNumber = 659;
  unit.mcuType = mcuLPC4337;
  unit.unitType = unitTypeTransmitter;
  unit.softwareVersion = 610;
  unit.bootLoaderRelease = 18;
  unit.unitFlags = 1;
  EXPECT_TRUE(CheckRemoteUpdate(f.out, unit));

  unit.softwareVersion = 590;
  EXPECT_FALSE(CheckRemoteUpdate(f.out, unit));
  EXPECT_NE(f.Console().find("Ponderix Unit 7 must be running version 6.00 or later of the "
                             "Ponderix software for remote software update.\r\n"),
            std::string::npos);
  unit.softwareVersion = 610;
  unit.bootLoaderRelease = 13;
  EXPECT_FALSE(CheckRemoteUpdate(f.out, unit));
  EXPECT_NE(f.Console().find("Ponderix Unit 7 must have boot loader release 14 or later"),
            std::string::npos);
  unit.bootLoaderRelease = 18;
  unit.unitFlags = 0;
  EXPECT_FALSE(CheckRemoteUpdate(f.out, unit));
  EXPECT_NE(f.Console().find("Ponderix Unit 7 does not support remote software update.\r\n"),
            std::string::npos);
}

TEST(SearchForMatchingRemoteUnit, TakesTheOneUnitOfTheWantedKind) {
  ConnectFixture f;
  Connect(f, Unit("panel", "connected", 653, 5) + Unit("t", "network", 659, 7) +
                 Unit("r", "network", 649, 9));
  UnitInfo found;
  ASSERT_TRUE(SearchForMatchingRemoteUnit(f.link, f.unit, unitTypeTransmitter, mcuLPC4337,
                                          mcuLPC4357, found));
  EXPECT_EQ(found.unitAddress, 7);
  EXPECT_NE(f.Console().find("-- found matching remote unit: 7\r\n"), std::string::npos);
}

TEST(SearchForMatchingRemoteUnit, TwoOfTheWantedKindEndTheRun) {
  ConnectFixture f;
  Connect(f, Unit("panel", "connected", 653, 5) + Unit("t1", "network", 659, 7) +
                 Unit("t2", "network", 659, 9));
  UnitInfo found;
  EXPECT_EQ(f.ExitCodeOf([&] {
    SearchForMatchingRemoteUnit(f.link, f.unit, unitTypeTransmitter, mcuLPC4337, 0, found);
  }),
            1);
  EXPECT_NE(f.Console().find("Fatal Error: Found more than one unit that matches the product "
                             "type, unable to complete update"),
            std::string::npos);
}

TEST(SearchForMatchingProxyUnit, ReachesTheUnitBehindATestJigAndLeavesTheProxyOn) {
  ConnectFixture f;
  Connect(f, Unit("jig", "connected", 652, 10, "jig = yes\n") +
                 Unit("dut", "jig-port", 659, 4, "baud = 115200\n"));
  UnitInfo found;
  ASSERT_TRUE(SearchForMatchingProxyUnit(f.link, f.unit, unitTypeTransmitter, mcuLPC4337,
                                         mcuLPC4357, found));
  EXPECT_EQ(found.cardNumber, 659);
  EXPECT_EQ(found.serialNumber, 1004);
  EXPECT_TRUE(f.proxy.on);
  EXPECT_TRUE(f.state.bufferedTransfer);
  EXPECT_NE(f.Console().find("-- found\r\n"), std::string::npos);

  // Back to the jig itself.
  TurnProxyOff(f.link);
  EXPECT_EQ(f.options.unitId, 10);
}

TEST(SearchForMatchingProxyUnit, AnotherKindBehindTheJigClosesTheProxy) {
  ConnectFixture f;
  Connect(f, Unit("jig", "connected", 652, 10, "jig = yes\n") +
                 Unit("dut", "jig-port", 649, 4, "baud = 115200\n"));
  UnitInfo found;
  EXPECT_FALSE(SearchForMatchingProxyUnit(f.link, f.unit, unitTypeTransmitter, mcuLPC4337,
                                          mcuLPC4357, found));
  EXPECT_FALSE(f.proxy.on);
  EXPECT_EQ(f.options.unitId, 10);
  // The jig's own link is the connection again.
  EXPECT_EQ(f.state.savedBaudRate, f.port.settings().baudRate);
  EXPECT_NE(f.Console().find("RPC: CloseKelUpdaterProxy\r\n"), std::string::npos);

  // Only a connected test jig can proxy.
  ConnectFixture g;
  Connect(g, Unit("panel", "connected", 653, 5));
  EXPECT_FALSE(SearchForMatchingProxyUnit(g.link, g.unit, unitTypeTransmitter, mcuLPC4337,
                                          mcuLPC4357, found));
  EXPECT_EQ(g.Console().find("SearchForMatchingProxyUnit"), std::string::npos);
}

// A unit behind the jig that an interrupted update left in its RAM flash
// programmer: the jig reports a boot loader, which does not answer, but the
// programmer does. With the note the earlier run left for the port, it is
// the noted unit, found in its programmer; without one the run ends saying
// the unit must not be switched off (a power cycle could leave a boot
// loader cut short unable to start).
class ProgrammerBehindJig : public ::testing::TestWithParam<bool> {};

TEST_P(ProgrammerBehindJig, IsTheNotedUnitOrNeverPowerCycled) {
  const bool noted = GetParam();
  ConnectFixture f;
  sim::SimNetwork& network = f.Serve(3, Unit("jig", "connected", 652, 10, "jig = yes\n") +
                                            Unit("dut", "jig-port", 659, 4, "baud = 115200\n"));
  ASSERT_NO_FATAL_FAILURE(f.Connect());
  ReadAdvancedInfo(f.link, f.unit);
  sim::SimUnit* dut = network.Find("dut");
  ASSERT_NE(dut, nullptr);
  dut->role = sim::SimRole::kProgrammer;
  NotedProgrammer note;
  note.unit.cardNumber = 659;
  note.unit.serialNumber = 1004;
  note.unit.mcuType = mcuLPC4337;
  note.unit.unitType = unitTypeTransmitter;
  note.baudRate = 115200;
  note.jigAddress = 10;
  note.bootLoader = NotedProgrammer::BootLoader::kUnderWay;
  if (noted) ProgrammerNote(f.registry, 3).Write(note);
  UnitInfo found;
  bool matched = false;
  const int code = f.ExitCodeOf([&] {
    matched = SearchForMatchingProxyUnit(f.link, f.unit, unitTypeTransmitter, mcuLPC4337,
                                         mcuLPC4357, found);
  });
  const std::string console = f.Console();
  EXPECT_EQ(console.find("power off and on"), std::string::npos) << console;
  if (noted) {
    EXPECT_EQ(code, -1) << console;  // no exit
    ASSERT_TRUE(matched) << console;
    EXPECT_EQ(found.connectionMode, modeFlashProgrammer);
    EXPECT_EQ(found.serialNumber, 1004);
  } else {
    EXPECT_EQ(code, 1);
    EXPECT_NE(console.find("Do not switch the unit off"), std::string::npos) << console;
    EXPECT_NE(console.find("Fatal Error: The unit is running its flash programmer"),
              std::string::npos)
        << console;
  }
}

INSTANTIATE_TEST_SUITE_P(Note, ProgrammerBehindJig, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Noted" : "NotNoted"; });

}  // namespace
}  // namespace kel
