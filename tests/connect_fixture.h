#pragma once

// A runtime on a virtual clock with simulated units on in-memory COM
// ports, for the tests of finding, connecting to and interrogating units.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "platform/memory_serial.h"
#include "sim/memory_peer.h"
#include "sim/scenario.h"
#include "sim/sim_network.h"
#include "tests/link_fixture.h"
#include "tests/sample_units.h"
#include "unit/unit_connection.h"
#include "unit/unit_info.h"
#include "unit/unit_probe.h"

namespace kel {

struct ConnectFixture : LinkStackFixture {
  ConnectFixture() {
    options.debug = true;
    options.yesToPrompts = true;
    out.errorReportLevel = 1;
  }

  /// Serves the scenario `text` on COM`number`; the test fails on a bad scenario.
  sim::SimNetwork& Serve(int number, const std::string& text) {
    sim::Scenario scenario;
    std::string error;
    EXPECT_TRUE(sim::ParseScenario(text, scenario, error)) << error;
    auto served = std::make_unique<Served>();
    sim::BuildNetwork(scenario, served->network);
    MemorySerialLine& line = ports.AddLine(number);
    served->peer = std::make_unique<sim::MemoryPeer>(served->network, line);
    sim::SimNetwork& network = served->network;
    served_[number] = std::move(served);
    return network;
  }

  /// Opens COM`number` at the starting link settings, as ConnectUnit would.
  bool Open(int number) {
    options.portNumber = static_cast<int16_t>(number);
    return port.OpenPort();
  }

  /// Connects to the unit served on COM`number` the way main does: opens
  /// the port, checks that a unit answers and reads its identity.
  void Connect(int number = 3) {
    ASSERT_TRUE(Open(number));
    ASSERT_TRUE(CheckUnitId(link, unit));
    ASSERT_TRUE(ConnectToUnit(link, unit));
  }

  /// The console so far, with a held-back line end put out.
  std::string Console() {
    out.FinishConsole();
    return console.output();
  }

  UnitInfo unit;

 private:
  struct Served {
    sim::SimNetwork network;
    std::unique_ptr<sim::MemoryPeer> peer;
  };
  std::map<int, std::unique_ptr<Served>> served_;
};

}  // namespace kel
