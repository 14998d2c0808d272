// The fault kinds a test campaign uses, each seen from the scripted client
// on the demo network, and the one request number that the rules and the
// transcript share.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/memory_serial.h"
#include "platform/virtual_clock.h"
#include "sim/memory_peer.h"
#include "sim/scenario.h"
#include "tests/sim_client.h"

namespace kel::sim {
namespace {

using simclient::Bytes;

constexpr uint8_t kDisplayAddress = 10;
const Bytes kUnitInfo = {kDisplayAddress, 0x45, 0x10, 0x10};

class FaultKinds : public ::testing::Test {
 protected:
  void SetUp() override {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(
        LoadScenario(std::string(KEL_SOURCE_DIR) + "/sim/scenarios/demo.scn", scenario, error))
        << error;
    BuildNetwork(scenario, network);
    peer = std::make_unique<MemoryPeer>(network, ports.AddLine(3));
    ASSERT_TRUE(client.Open(19200));
  }
  void Add(const std::string& text) {
    FaultRule rule;
    std::string error;
    ASSERT_TRUE(ParseFaultRule(text, rule, error)) << error;
    network.faults().Add(rule);
  }
  bool UnitInfo(uint32_t timeoutMs = 500) {
    Bytes reply;
    return client.Call(kUnitInfo, 12, reply, 4, timeoutMs);
  }
  // The notes of the transcript entries of request `number`.
  std::string NotesOf(uint64_t number) {
    std::string notes;
    for (const auto& e : network.transcript().entries()) {
      if (e.request == number) notes += e.note + ";";
    }
    return notes;
  }

  VirtualClock clock;
  MemorySerialPorts ports{clock};
  SimNetwork network;
  std::unique_ptr<MemoryPeer> peer;
  simclient::SimClient client{ports, 3, clock};
};

TEST_F(FaultKinds, TruncatedJunkFollowedAndDuplicatedReplies) {
  Add("truncate command=0x1010 value=7");
  EXPECT_FALSE(UnitInfo());
  EXPECT_EQ(client.Discard(), 6u);  // 7 came; the client had taken the first
  EXPECT_TRUE(UnitInfo());

  Add("junk-after command=0x1010 request=3");
  EXPECT_TRUE(UnitInfo());
  EXPECT_EQ(client.Discard(), 4u);

  // A duplicated request is acted on twice: two replies come.
  Add("duplicate command=0x1010 request=4");
  Bytes first, second;
  ASSERT_TRUE(client.Call(kUnitInfo, 12, first));
  ASSERT_TRUE(client.Receive(second, 12));
  EXPECT_EQ(first, second);
  EXPECT_NE(NotesOf(4).find("(duplicate copy)"), std::string::npos) << NotesOf(4);
}

TEST_F(FaultKinds, SilenceAndCtsHeldLowPassAndTheUnitGoesOn) {
  Add("silence command=0x1010 value=700");
  EXPECT_FALSE(UnitInfo());             // the request that starts it
  EXPECT_FALSE(client.Ping(kDisplayAddress));  // at 500 ms: still silent
  EXPECT_TRUE(UnitInfo());              // at 1000 ms: answering again
  EXPECT_NE(NotesOf(2).find("(silent)"), std::string::npos) << NotesOf(2);

  network.connected()->cts = CtsBehaviour::kHigh;
  Add("cts-low command=0x1010 value=300");
  ASSERT_TRUE(UnitInfo());
  EXPECT_FALSE(client.Cts());
  // With hardware flow control the next request waits until CTS rises.
  ASSERT_TRUE(client.Open(19200, false, true));
  const uint32_t sent = clock.Ticks();
  EXPECT_TRUE(UnitInfo());
  EXPECT_GE(clock.Ticks() - sent, 250u);
  EXPECT_TRUE(client.Cts());
}

// Power lost half-way through a large program request: half the block is
// in flash, no reply comes, and the unit restarts into the software that
// the flash now holds.
TEST_F(FaultKinds, PowerLossLeavesAPartialWriteAndARestart) {
  ASSERT_TRUE(client.GotoBootLoader(kDisplayAddress));
  client.Pause(400);
  ASSERT_TRUE(client.Open(115200));
  ASSERT_TRUE(
      client.WriteMemory({{0x10000000, Bytes(64, 0xAA)}}, simclient::MemoryTransport::kSmall));
  ASSERT_TRUE(client.TransferToRam(0x10000000));
  ASSERT_TRUE(client.EraseRange(0x1A004000, 0x1A007FFF));
  Add("power-loss command=0x1042");
  const uint64_t request = network.requestCount() + 1;
  const Bytes block(1024, 0x5A);
  EXPECT_FALSE(client.ProgramFlash({{0x1A004000, block}}, simclient::MemoryTransport::kLarge));
  EXPECT_NE(NotesOf(request).find("[power-loss]"), std::string::npos) << NotesOf(request);
  const SimUnit& display = *network.connected();
  EXPECT_EQ(display.flash.Read(0x1A004000, 512), Bytes(512, 0x5A));
  EXPECT_FALSE(display.flash.HasData(0x1A004200, 0x1A0043FF));
  client.Pause(400);
  ASSERT_TRUE(client.Open(19200));
  EXPECT_TRUE(client.Ping(kDisplayAddress));
}

// A restart after acting: the block is in flash whole, no reply comes, and
// the unit restarts (here into its boot loader).
TEST_F(FaultKinds, RestartAfterActingKeepsTheWorkAndSendsNoReply) {
  ASSERT_TRUE(client.GotoBootLoader(kDisplayAddress));
  client.Pause(400);
  ASSERT_TRUE(client.Open(115200));
  ASSERT_TRUE(
      client.WriteMemory({{0x10000000, Bytes(64, 0xAA)}}, simclient::MemoryTransport::kSmall));
  ASSERT_TRUE(client.TransferToRam(0x10000000));
  ASSERT_TRUE(client.EraseRange(0x1A004000, 0x1A007FFF));
  Add("restart-after command=0x1042 value=1");
  const Bytes block(1024, 0x5A);
  EXPECT_FALSE(client.ProgramFlash({{0x1A004000, block}}, simclient::MemoryTransport::kLarge));
  EXPECT_EQ(network.connected()->flash.Read(0x1A004000, 1024), block);
  client.Pause(400);
  EXPECT_EQ(network.connected()->role, SimRole::kBootLoader);
}

// Echoes that answer no request of this moment go out just ahead of the
// reply: one for an address never sent (stray-echo), and the unit's
// previous reply again (echo-previous).
TEST_F(FaultKinds, ExtraEchoesGoAheadOfTheReply) {
  Bytes info;
  ASSERT_TRUE(client.Call(kUnitInfo, 12, info));
  struct Case {
    const char* rule;
    uint8_t changed;  // how the extra echo's first echoed byte differs
  };
  for (const Case& c :
       {Case{"stray-echo command=0x1010", 0x80}, Case{"echo-previous command=0x1010", 0}}) {
    Add(c.rule);
    client.Send(kUnitInfo);
    Bytes extra, reply;
    ASSERT_TRUE(client.Receive(extra, 12)) << c.rule;
    ASSERT_TRUE(client.Receive(reply, 12)) << c.rule;
    EXPECT_EQ(reply, info) << c.rule;
    Bytes expected = info;
    expected[4] ^= c.changed;
    EXPECT_EQ(extra, expected) << c.rule;
  }
}

// Rules count the port's requests as the transcript numbers them: a rule
// for request N hits exactly the request shown as #N.
TEST_F(FaultKinds, RulesAndTranscriptShareOneRequestNumber) {
  ASSERT_TRUE(client.Ping(kDisplayAddress));
  const uint64_t target = network.requestCount() + 2;
  Add("drop-reply request=" + std::to_string(target));
  EXPECT_TRUE(client.Ping(kDisplayAddress));
  EXPECT_FALSE(client.Ping(kDisplayAddress));
  EXPECT_TRUE(client.Ping(kDisplayAddress));
  EXPECT_NE(NotesOf(target).find("[drop-reply] (reply lost)"), std::string::npos)
      << NotesOf(target);
  EXPECT_EQ(network.faults().rules()[0].fired, 1u);
}

}  // namespace
}  // namespace kel::sim
