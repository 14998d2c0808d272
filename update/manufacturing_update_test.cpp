#include "update/manufacturing_update.h"

#include <gtest/gtest.h>

#include "link/comm_port.h"
#include "tests/connect_fixture.h"
#include "unit/rpc_identification.h"

namespace kel {
namespace {

std::string UnitLine(const std::string& name, const std::string& place, int card, int address,
                 const std::string& extra = "") {
  return "[unit " + name + "]\nplace = " + place + "\ncard = " + std::to_string(card) +
         "\nsoftware = 6.10r57\nboot-loader = 4r18\nmodbus = " + std::to_string(address) +
         "\naddress = " + std::to_string(address) + "\ninfo = " + name +
         "\nserial = " + std::to_string(1000 + address) + "\n" + extra;
}

// What the updater was handed.
struct UpdateSeen {
  int calls = 0;
  uint16_t card = 0;
  bool updateFiles = false;
  bool buffered = false;
  bool throughProxy = false;
};

struct ManufacturingJob : ConnectFixture {
  sim::SimNetwork& Start(const std::string& scenario) {
    options.programmingBaudRate = 115200;
    sim::SimNetwork& network = Serve(3, scenario);
    Connect();
    ReadExtendedInfo(link, unit);
    ReadAdvancedInfo(link, unit);
    return network;
  }
  UnitUpdater Updater(bool result) {
    return [this, result](Link& l, UnitInfo& target, bool updateFiles) {
      ++seen.calls;
      seen.card = target.cardNumber;
      seen.updateFiles = updateFiles;
      seen.buffered = l.state.bufferedTransfer;
      seen.throughProxy = proxy.on;
      return result;
    };
  }
  UpdateSeen seen;
};

TEST(ManufacturingUpdateUnit, UpdatesTheUnitBehindATestJigThroughItsProxy) {
  ManufacturingJob f;
  sim::SimNetwork& network = f.Start(UnitLine("jig", "connected", 652, 10, "jig = yes\n") +
                                     UnitLine("dut", "jig-port", 659, 4, "baud = 115200\n"));
  const ProductionTarget kt5{true, unitTypeTransmitter, mcuLPC4337, mcuLPC4357};
  EXPECT_TRUE(ManufacturingUpdateUnit(f.link, f.unit, kt5, f.Updater(true)));
  EXPECT_EQ(f.seen.calls, 1);
  EXPECT_EQ(f.seen.card, 659);
  EXPECT_FALSE(f.seen.updateFiles);
  EXPECT_TRUE(f.seen.buffered);
  EXPECT_TRUE(f.seen.throughProxy);
  // Restarted through the proxy, then the jig is itself again at its speed.
  const std::string out = f.Console();
  EXPECT_NE(out.find("restarting unit...\r\n"), std::string::npos);
  EXPECT_NE(out.find("Success: all operations are complete\r\n"), std::string::npos);
  EXPECT_FALSE(f.proxy.on);
  EXPECT_FALSE(f.state.bufferedTransfer);
  EXPECT_FALSE(network.connected()->proxyOpen);
  EXPECT_EQ(f.options.unitId, 10);
  EXPECT_EQ(f.port.settings().baudRate, 19200);
}

TEST(ManufacturingUpdateUnit, ARefusedUpdateOfANetworkUnitRingsAndFails) {
  ManufacturingJob f;
  f.Start(UnitLine("panel", "connected", 653, 5) + UnitLine("kt5", "network", 659, 7));
  const ProductionTarget kt5{true, unitTypeTransmitter, mcuLPC4337, mcuLPC4357};
  EXPECT_FALSE(ManufacturingUpdateUnit(f.link, f.unit, kt5, f.Updater(false)));
  EXPECT_EQ(f.seen.card, 659);
  EXPECT_TRUE(f.seen.updateFiles);  // a unit behind the connected one takes update files
  const std::string out = f.Console();
  EXPECT_NE(out.find("\aFAILURE: unable to update unit!\r\n"), std::string::npos);
  EXPECT_EQ(out.find("Success"), std::string::npos);
  EXPECT_EQ(f.port.settings().baudRate, 19200);

  // A job that names no unit updates the connected one directly.
  ManufacturingJob g;
  g.Start(UnitLine("panel", "connected", 653, 5));
  EXPECT_TRUE(ManufacturingUpdateUnit(g.link, g.unit, ProductionTarget{}, g.Updater(true)));
  EXPECT_EQ(g.seen.card, 653);
  EXPECT_FALSE(g.seen.updateFiles);
}

// A job that names no unit, run on a KJ3 test jig, updates the unit on the
// jig through its proxy; with nothing there it ends before the jig itself
// is touched (it is never put into its boot loader).
TEST(ManufacturingUpdateUnit, AJobThatNamesNoUnitTakesTheUnitOnATestJig) {
  ManufacturingJob f;
  f.Start(UnitLine("jig", "connected", 652, 10, "jig = yes\n") +
          UnitLine("dut", "jig-port", 659, 4, "baud = 115200\n"));
  EXPECT_TRUE(ManufacturingUpdateUnit(f.link, f.unit, ProductionTarget{}, f.Updater(true)));
  EXPECT_EQ(f.seen.card, 659);
  EXPECT_TRUE(f.seen.throughProxy);

  ManufacturingJob g;
  sim::SimNetwork& network = g.Start(UnitLine("jig", "connected", 652, 10, "jig = yes\n"));
  EXPECT_EQ(g.ExitCodeOf([&] {
    ManufacturingUpdateUnit(g.link, g.unit, ProductionTarget{}, g.Updater(true));
  }),
            1);
  EXPECT_EQ(g.seen.calls, 0);
  EXPECT_NE(g.Console().find("Fatal Error: Unable to find a Ponderix unit to update: no unit "
                             "answers on the KJ3 test jig"),
            std::string::npos)
      << g.Console();
  EXPECT_EQ(network.connected()->role, sim::SimRole::kApplication);
}

TEST(ManufacturingUpdateUnit, NoMatchingUnitEndsTheRunNamingWhatWasSought) {
  ManufacturingJob f;
  f.Start(UnitLine("panel", "connected", 653, 5) + UnitLine("kt5", "network", 659, 7));
  const ProductionTarget kr3{true, unitTypeIOUnit, mcuLPC1768, mcuLPC1768};
  EXPECT_EQ(f.ExitCodeOf([&] { ManufacturingUpdateUnit(f.link, f.unit, kr3, f.Updater(true)); }),
            1);
  EXPECT_EQ(f.seen.calls, 0);
  EXPECT_NE(f.Console().find("Fatal Error: Unable to find a Ponderix unit to update: IOUnit "
                             "(LPC1768)\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace kel
