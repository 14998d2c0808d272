#pragma once

// A runtime on a virtual clock with simulated units on in-memory COM
// ports, for the tests of finding, connecting to and interrogating units.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "app/output.h"
#include "app/runtime.h"
#include "link/comm_port.h"
#include "link/link_state.h"
#include "link/packet_layer.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/memory_serial.h"
#include "platform/process_exit.h"
#include "platform/registry.h"
#include "platform/virtual_clock.h"
#include "sim/memory_peer.h"
#include "sim/scenario.h"
#include "sim/sim_network.h"
#include "unit/unit_info.h"

namespace kel {

/// A KT5 transmitter at 6.10r57 on its own, at Modbus address 5.
inline constexpr char kLoneKt5[] = R"(
[unit kt5]
place = connected
card = 659
software = 6.10r57
modbus = 5
address = 5
serial = 4711
info = Silo 5
)";

struct ConnectFixture {
  ConnectFixture() {
    options.debug = true;
    options.yesToPrompts = true;
    out.errorReportLevel = 1;
  }

  /// Serves the scenario `text` on COM`port`; the test fails on a bad scenario.
  sim::SimNetwork& Serve(int port, const std::string& text) {
    sim::Scenario scenario;
    std::string error;
    EXPECT_TRUE(sim::ParseScenario(text, scenario, error)) << error;
    auto served = std::make_unique<Served>();
    sim::BuildNetwork(scenario, served->network);
    MemorySerialLine& line = ports.AddLine(port);
    served->peer = std::make_unique<sim::MemoryPeer>(served->network, line);
    sim::SimNetwork& network = served->network;
    served_[port] = std::move(served);
    return network;
  }

  /// Opens COM`port` at the starting link settings, as ConnectUnit would.
  bool Open(int port) {
    options.portNumber = static_cast<int16_t>(port);
    return commPort.OpenPort();
  }

  /// The console so far, with a held-back line end put out.
  std::string Console() {
    out.FinishConsole();
    return console.output();
  }

  template <typename Body>
  int ExitCodeOf(Body body) {
    try {
      body();
    } catch (const ExitRequested& request) {
      return request.code;
    }
    return -1;
  }

  Options options;
  VirtualClock clock;
  ScriptedConsole console;
  Output out{console, clock, options};
  MapEnvironment env;
  MapRegistry registry;
  ThrowingExit exit;
  Runtime runtime{options, out, clock, console, env, registry, exit, {}};
  MemorySerialPorts ports{clock};
  CommPort commPort{runtime, ports};
  ProxySettings proxy;
  PacketLayer packets{runtime, commPort, proxy};
  LinkState state;
  Link link{runtime, commPort, packets, state};
  UnitInfo unit;

 private:
  struct Served {
    sim::SimNetwork network;
    std::unique_ptr<sim::MemoryPeer> peer;
  };
  std::map<int, std::unique_ptr<Served>> served_;
};

}  // namespace kel
