// The USB adapter between the units and the program: bytes reach the
// program when a packet fills or the adapter's timer runs out.

#include "sim/adapter_model.h"

#include <gtest/gtest.h>

#include "platform/memory_serial.h"
#include "platform/virtual_clock.h"
#include "sim/memory_peer.h"
#include "sim/scenario.h"
#include "tests/sample_units.h"
#include "tests/sim_client.h"

namespace kel::sim {
namespace {

TimedOutput Reply(size_t bytes, uint64_t lastArrivesUs, int32_t baud = 921600) {
  TimedOutput out;
  out.bytes.assign(bytes, 0x5A);
  out.deliverAtUs = lastArrivesUs;
  out.line = UnitLine(baud, false);
  return out;
}

TEST(SimAdapter, SettingsText) {
  AdapterSettings settings;
  std::string error;
  ASSERT_TRUE(ParseAdapterSettings("latency-ms=2,packet=30", settings, error)) << error;
  EXPECT_EQ(settings.latencyMs, 2u);
  EXPECT_EQ(settings.packetBytes, 30u);
  ASSERT_TRUE(ParseAdapterSettings("latency-ms=1", settings, error));
  EXPECT_EQ(settings.packetBytes, 62u);
  for (const char* bad : {"", "latency-ms=0", "latency=16", "packet=x", "latency-ms=16,"}) {
    EXPECT_FALSE(ParseAdapterSettings(bad, settings, error)) << bad;
  }
}

// A short reply waits for the timer from its first byte; a long one goes in
// full packets, each as its last byte arrives, and its tail on the timer.
TEST(SimAdapter, PacketsGoWhenFullOrWhenTheTimerEnds) {
  struct Case {
    size_t bytes;
    bool lineTimed;
    std::vector<std::pair<uint64_t, size_t>> packets;  // moment, bytes
  } cases[] = {
      {13, false, {{116000, 13}}},
      // 12 us a byte at 921600: the 62nd byte is in at 100000 - 38 * 12.
      {100, true, {{99544, 62}, {115556, 38}}},
  };
  for (const Case& c : cases) {
    AdapterModel adapter(AdapterSettings{16, 62});
    adapter.Add(Reply(c.bytes, 100000), c.lineTimed);
    uint64_t next = 0;
    ASSERT_TRUE(adapter.NextRelease(next));
    EXPECT_EQ(next, c.packets.front().first);
    EXPECT_TRUE(adapter.Take(next - 1).empty());
    std::vector<TimedOutput> out = adapter.Take(200000);
    ASSERT_EQ(out.size(), c.packets.size()) << c.bytes;
    for (size_t i = 0; i < out.size(); ++i) {
      EXPECT_EQ(out[i].deliverAtUs, c.packets[i].first);
      EXPECT_EQ(out[i].bytes.size(), c.packets[i].second);
    }
    EXPECT_FALSE(adapter.NextRelease(next));
  }
}

// In process: a ping's reply reaches the program the adapter's timer after
// the unit sent it, a scenario's adapter key sets the adapter up.
TEST(SimAdapter, APingWaitsForTheAdaptersTimer) {
  for (uint32_t latency : {1u, 16u}) {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(ParseScenario(
        std::string(kLoneKt5) + "\n[port]\nadapter = latency-ms=" + std::to_string(latency),
        scenario, error))
        << error;
    ASSERT_TRUE(scenario.adapter);
    VirtualClock clock;
    MemorySerialPorts ports{clock};
    SimNetwork network;
    BuildNetwork(scenario, network);
    MemoryPeer peer(network, ports.AddLine(1));
    peer.SetAdapter(scenario.adapterSettings);
    simclient::SimClient client{ports, 1, clock};
    ASSERT_TRUE(client.Open(19200));
    const uint64_t start = clock.Micros();
    ASSERT_TRUE(client.Ping(5));
    // The unit's 2 ms to answer, then the adapter's timer.
    EXPECT_EQ((clock.Micros() - start) / 1000, 2 + latency) << latency;
  }
}

}  // namespace
}  // namespace kel::sim
