#include "sim/sim_network.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/memory_serial.h"
#include "platform/virtual_clock.h"
#include "sim/control_channel.h"
#include "sim/memory_peer.h"
#include "sim/sim_test_support.h"

namespace kel::sim {
namespace {

using testing::Bench;
using testing::Line;
using testing::WithCrc;

SimUnit NetworkUnit(const std::string& name, uint16_t card, uint8_t address) {
  SimUnit u;
  u.name = name;
  u.cardNumber = card;
  u.modbusAddress = address;
  u.unitAddress = address;
  u.softwareVersion = 610;
  u.applicationBaud = 19200;
  u.restartMs = 300;
  u.notReadyMs = 500;
  return u;
}

std::vector<uint8_t> PingRequest(uint8_t address) { return WithCrc({address, 0x41}); }
std::vector<uint8_t> Pong(uint8_t address) { return WithCrc({address, 0x42}); }

class DisplayNetworkTest : public ::testing::Test {
 protected:
  DisplayNetworkTest() : network(RoleHandlers{}) {
    network.AddUnit(NetworkUnit("kd4", 653, 10), SimNetwork::Place::kConnected);
    network.AddUnit(NetworkUnit("kt5-a", 659, 3), SimNetwork::Place::kNetwork);
    network.AddUnit(NetworkUnit("kt5-b", 659, 12), SimNetwork::Place::kNetwork);
    bench = std::make_unique<Bench>(network);
  }
  std::vector<uint8_t> Send(const std::vector<uint8_t>& wire) {
    return bench->Send(wire, Line(19200));
  }

  SimNetwork network;
  std::unique_ptr<Bench> bench;
};

TEST_F(DisplayNetworkTest, ListsAndRelaysToTheUnitsBehindTheConnectedOne) {
  EXPECT_EQ(Send(WithCrc({0x0A, 0x45, 0x10, 0x17})),
            WithCrc({0x0A, 0x45, 0x10, 0x17, 0x02, 0x03, 0x0C}));
  EXPECT_EQ(Send(PingRequest(3)), Pong(3));
  EXPECT_EQ(Send(WithCrc({0x0C, 0x45, 0x10, 0x10})),
            WithCrc({0x0C, 0x45, 0x10, 0x10, 0x02, 0x93, 0x00, 0x01, 0x02, 0x62, 0x00, 0x39}));
  // Only the connected unit answers F0; nobody answers an unused address.
  EXPECT_EQ(Send(WithCrc({0xF0, 0x45, 0x10, 0x1B})), WithCrc({0xF0, 0x45, 0x10, 0x1B, 0x0A}));
  EXPECT_TRUE(Send(PingRequest(4)).empty());
  // A remote unit lists no units of its own.
  EXPECT_EQ(Send(WithCrc({0x03, 0x45, 0x10, 0x17})), WithCrc({0x03, 0x45, 0x10, 0x17, 0x00}));
}

// "H" blocks reach a unit behind the connected one only when the connected
// unit's software (6.04 on) relays them; "G" blocks always do.
TEST(SimRelay, HBlocksNeedConnectedSoftwareThatKnowsThem) {
  for (int16_t connectedVersion : {603, 604}) {
    SimNetwork network;
    SimUnit display = NetworkUnit("kd4", 653, 10);
    display.softwareVersion = connectedVersion;
    network.AddUnit(display, SimNetwork::Place::kConnected);
    network.AddUnit(NetworkUnit("kt5", 659, 3), SimNetwork::Place::kNetwork);
    Bench bench(network);
    ASSERT_EQ(bench.Call({3, 0x45, 0x10, 0x29, 1, 0x01, 0xE0}, Line(19200)).size(), 10u);
    auto block = [](std::vector<uint8_t> payload) {
      std::vector<uint8_t> wire = {0xF1, static_cast<uint8_t>(payload.size() + 2)};
      const auto body = WithCrc(std::move(payload));
      wire.insert(wire.end(), body.begin(), body.end());
      return wire;
    };
    const auto h =
        bench.Send(block({3, 0x48, 0x04, '2', 1, 0x01, 0xE0, 0, 0, 0, 0, 1, 'x'}), Line(19200));
    EXPECT_EQ(h.empty(), connectedVersion < 604) << connectedVersion;
    const auto g =
        bench.Send(block({3, 0x47, '2', 1, 0x01, 0xE0, 0, 0, 0, 1, 1, 'y'}), Line(19200));
    EXPECT_FALSE(g.empty()) << connectedVersion;
  }
}

TEST_F(DisplayNetworkTest, WrongSpeedOrParityIsSilenceAndLeavesNoHalfFrame) {
  EXPECT_TRUE(bench->Send(PingRequest(10), Line(9600)).empty());
  EXPECT_TRUE(bench->Send(PingRequest(10), Line(19200, true)).empty());
  SerialConfig odd = Line(19200);
  odd.parityOn = true;
  EXPECT_TRUE(bench->Send(PingRequest(10), odd).empty());
  const auto lost = network.transcript().Filter(TranscriptEntry::Direction::kLost);
  EXPECT_EQ(lost.size(), 3u);
  // Half a frame at the wrong speed must not spoil the next good one.
  const auto ping = PingRequest(10);
  network.Feed(ping.data(), 2, Line(57600), bench->now());
  EXPECT_EQ(Send(ping), Pong(10));
}

TEST_F(DisplayNetworkTest, ResetSystemRestartsEveryUnitOnTheNetwork) {
  EXPECT_EQ(Send(WithCrc({0x0A, 0x45, 0x10, 0x18})), WithCrc({0x0A, 0x45, 0x10, 0x18}));
  for (SimUnit* u : network.AllUnits()) EXPECT_TRUE(u->restarting) << u->name;
  EXPECT_TRUE(Send(PingRequest(10)).empty());
  EXPECT_TRUE(Send(PingRequest(3)).empty());
  bench->Wait(300);
  EXPECT_EQ(Send(PingRequest(10)), Pong(10));
  EXPECT_EQ(Send(PingRequest(12)), Pong(12));
  EXPECT_EQ(Send(WithCrc({0x0C, 0x45, 0x10, 0x33})), WithCrc({0x0C, 0x45, 0x10, 0x33, 0x00}));
}

TEST_F(DisplayNetworkTest, EachFaultKindDoesWhatItSays) {
  auto add = [&](const char* text) {
    FaultRule rule;
    std::string error;
    ASSERT_TRUE(ParseFaultRule(text, rule, error)) << error;
    network.faults().Add(rule);
  };
  const auto request = WithCrc({0x0A, 0x45, 0x10, 0x1B});
  const auto good = WithCrc({0x0A, 0x45, 0x10, 0x1B, 0x0A});

  add("drop-reply command=0x101B");
  EXPECT_TRUE(Send(request).empty());
  EXPECT_EQ(Send(request), good);  // fires once by default

  add("drop-request command=0x101B at=2");
  EXPECT_EQ(Send(request), good);
  EXPECT_TRUE(Send(request).empty());

  network.faults().Clear();
  add("twice command=0x101B");
  auto both = good;
  both.insert(both.end(), good.begin(), good.end());
  EXPECT_EQ(Send(request), both);

  network.faults().Clear();
  add("garbage command=0x101B value=2");
  auto noisy = good;
  noisy.insert(noisy.begin(), 2, 0xA5);
  EXPECT_EQ(Send(request), noisy);

  network.faults().Clear();
  add("corrupt command=0x101B value=4");
  auto bad = Send(request);
  ASSERT_EQ(bad.size(), good.size());
  EXPECT_NE(bad[4], good[4]);
  EXPECT_NE(ModbusCrc16(bad), 0);

  network.faults().Clear();
  add("wrong-command command=0x101B");
  EXPECT_EQ(Send(request), WithCrc({0x0A, 0x45, 0x10, 0x1A, 0x0A}));

  network.faults().Clear();
  // The Modbus address reply has no result field: a failure code in its
  // last byte would name another address instead of failing the request.
  add("hardware-failure service=0x45 value=7");
  EXPECT_EQ(Send(request), good);

  network.faults().Clear();
  add("late command=0x101B value=700");
  const uint32_t sent = bench->now();
  EXPECT_EQ(Send(request), good);
  EXPECT_GE(bench->lastDelivery(), sent + 700);

  network.faults().Clear();
  add("restart unit=kd4");
  EXPECT_TRUE(Send(request).empty());
  EXPECT_TRUE(network.connected()->restarting);
  bench->Wait(400);
  EXPECT_EQ(Send(request), good);

  network.faults().Clear();
  add("unplug at=1");
  EXPECT_TRUE(Send(request).empty());
  EXPECT_TRUE(Send(PingRequest(10)).empty());
  EXPECT_TRUE(network.unplugged());
  // The cable goes back in through the control channel; the unit kept running.
  EXPECT_EQ(RunControlCommands("plug COM3\n", {{3, &network}}, ""), "ok plug COM3\n");
  EXPECT_EQ(Send(request), good);
}

TEST(SimJig, ForwardsProxiedFramesToTheUnitOnItsSecondPort) {
  SimNetwork network{RoleHandlers{}};
  SimUnit jig = NetworkUnit("kj3", 652, 0x3C);
  jig.isJig = true;
  jig.jigPortNumber = 2;
  jig.softwareVersion = 610;
  network.AddUnit(jig, SimNetwork::Place::kConnected);
  SimUnit behind = NetworkUnit("kt3", 648, 7);
  behind.applicationBaud = 38400;
  network.AddUnit(behind, SimNetwork::Place::kJigPort);
  Bench bench(network);
  const SerialConfig line = Line(19200);

  auto proxied = [](std::vector<uint8_t> payload) {
    std::vector<uint8_t> body = {0x3C, 0x47, 0x3E, 0x02, static_cast<uint8_t>(payload.size())};
    body.insert(body.end(), payload.begin(), payload.end());
    std::vector<uint8_t> wire = {0xF1, static_cast<uint8_t>(payload.size() + 7)};
    const auto checked = WithCrc(body);
    wire.insert(wire.end(), checked.begin(), checked.end());
    return wire;
  };
  // Closed proxy: proxied frames go nowhere.
  EXPECT_TRUE(bench.Send(proxied({0x07, 0x41}), line).empty());
  EXPECT_EQ(bench.Call({0x3C, 0x45, 0x10, 0x3E}, line), WithCrc({0x3C, 0x45, 0x10, 0x3E, 0x00}));
  // Search: result 0, port 2, 38400 baud (00 00 96 00), unit 7, not in its boot loader.
  EXPECT_EQ(bench.Call({0x3C, 0x45, 0x10, 0x3C}, line),
            WithCrc({0x3C, 0x45, 0x10, 0x3C, 0x00, 0x02, 0x00, 0x00, 0x96, 0x00, 0x07, 0x00}));
  std::vector<uint8_t> expected = {0xF1, 0x09};
  const auto body = WithCrc({0x3C, 0x47, 0x3F, 0x02, 0x02, 0x07, 0x42});
  expected.insert(expected.end(), body.begin(), body.end());
  EXPECT_EQ(bench.Send(proxied({0x07, 0x41}), line), expected);

  // The jig's link moves to 115200; the unit behind is still at 38400 and hears nothing.
  EXPECT_EQ(bench.Call({0x3C, 0x45, 0x10, 0x3D, 0x02, 0x00, 0x01, 0xC2, 0x00}, line),
            WithCrc({0x3C, 0x45, 0x10, 0x3D, 0x02, 0x00, 0x01, 0xC2, 0x00, 0x00}));
  EXPECT_TRUE(bench.Send(proxied({0x07, 0x41}), line).empty());
  // A wrong port number is refused with a non-zero result.
  EXPECT_EQ(bench.Call({0x3C, 0x45, 0x10, 0x3D, 0x03, 0x00, 0x01, 0xC2, 0x00}, line),
            WithCrc({0x3C, 0x45, 0x10, 0x3D, 0x03, 0x00, 0x01, 0xC2, 0x00, 0x03}));
  EXPECT_EQ(bench.Call({0x3C, 0x45, 0x10, 0x3F}, line), WithCrc({0x3C, 0x45, 0x10, 0x3F, 0x00}));
}

TEST(SimBlankChip, AnswersTheAutobaudHandshake) {
  SimNetwork network{RoleHandlers{}};
  SimUnit chip = NetworkUnit("blank", 659, 1);
  chip.startRole = SimRole::kBlankChip;
  network.AddUnit(chip, SimNetwork::Place::kConnected);
  Bench bench(network);
  auto text = [](const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); };
  auto bytes = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  // Frames mean nothing to the ROM.
  EXPECT_TRUE(bench.Send(PingRequest(1), Line(115200)).empty());
  EXPECT_EQ(text(bench.Send(bytes("?"), Line(115200))), "Synchronized\r\n");
  const std::string reply = text(bench.Send(bytes("Synchronized\r\n"), Line(115200)));
  EXPECT_NE(reply.find("OK\r\n"), std::string::npos);
  EXPECT_EQ(text(bench.Send(bytes("12000\r\n"), Line(115200))), "12000\r\nOK\r\n");
}

TEST(SimMemoryPeer, ServesTheNetworkOnAnInMemoryLineInVirtualTime) {
  VirtualClock clock;
  MemorySerialLine line(clock);
  SimNetwork network{RoleHandlers{}};
  network.AddUnit(NetworkUnit("kt5", 659, 5), SimNetwork::Place::kConnected);
  MemoryPeer peer(network, line);
  line.config = Line(19200);
  const auto ping = PingRequest(5);
  line.HostWrite(ping.data(), ping.size());
  uint8_t buffer[16];
  EXPECT_EQ(line.HostRead(buffer, sizeof buffer), 0u);  // still on its way
  clock.Advance(10);
  const size_t n = line.HostRead(buffer, sizeof buffer);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + n), Pong(5));
  EXPECT_EQ(network.requestsHandled(), 1u);
}

}  // namespace
}  // namespace kel::sim
