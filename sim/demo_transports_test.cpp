// The demo network on the in-memory line, driven by the scripted client:
// identification, file writes in both block forms, and software flashed in
// every transport of the programmer download and of flash programming.

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

#include "platform/memory_serial.h"
#include "platform/virtual_clock.h"
#include "sim/memory_peer.h"
#include "sim/scenario.h"
#include "tests/sim_client_checks.h"

namespace kel::sim {
namespace {

using simclient::MemoryTransport;

// The client's reference for the file checksums, on the worked example and
// on a file that spans a block boundary.
TEST(SimClientChecksums, FollowTheFileChecksumRule) {
  EXPECT_EQ(simclient::FileChecksums({'a', 'b', 'c'}),
            (std::array<uint32_t, 4>{0x00636261, 0x00C6C4C2, 0, 0}));
  EXPECT_EQ(simclient::FileChecksums({}), (std::array<uint32_t, 4>{0, 0, 0, 0}));
  simclient::Bytes twoBlocks(260, 0);
  twoBlocks[0] = 1;    // word 0 of block 0
  twoBlocks[256] = 2;  // word 0 of block 1
  const auto sums = simclient::FileChecksums(twoBlocks);
  EXPECT_EQ(sums[0], 3u);
  EXPECT_EQ(sums[1], 6u);  // 1 rotated left once, then (2 ^ 1) rotated left once
  EXPECT_EQ(sums[3], 0u);
}

class DemoTransports : public ::testing::Test {
 protected:
  void SetUp() override {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(
        LoadScenario(std::string(KEL_SOURCE_DIR) + "/sim/scenarios/demo.scn", scenario, error))
        << error;
    BuildNetwork(scenario, network);
    peer = std::make_unique<MemoryPeer>(network, ports.AddLine(3));
  }

  VirtualClock clock;
  MemorySerialPorts ports{clock};
  SimNetwork network;
  std::unique_ptr<MemoryPeer> peer;
  simclient::SimClient client{ports, 3, clock};
};

TEST_F(DemoTransports, IdentifiesAllThreeUnits) { simclient::CheckDemoIdentification(client); }

TEST_F(DemoTransports, WritesFilesInBothBlockFormsAndReadsThemBack) {
  simclient::CheckDemoFileWrites(client);
  const SimFile* file = network.Find("kd4")->files.Find(1, 0x01E1);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->data.size(), 1200u);
}

TEST_F(DemoTransports, FlashesInEveryTransport) {
  struct Case {
    MemoryTransport download;
    MemoryTransport program;
  };
  const Case cases[] = {{MemoryTransport::kSmall, MemoryTransport::kSmall},
                        {MemoryTransport::kLarge, MemoryTransport::kLarge},
                        {MemoryTransport::kWindowed, MemoryTransport::kWindowed},
                        {MemoryTransport::kBuffered, MemoryTransport::kBuffered}};
  uint32_t previous = 0;
  uint8_t seed = 1;
  // Without the line model, and with line and unit time.
  for (bool lineModel : {false, true}) {
    network.SetLineModel(lineModel);
    for (const Case& c : cases) {
      SCOPED_TRACE("transport " + std::to_string(static_cast<int>(c.program)) +
                   (lineModel ? " timed" : ""));
      const uint32_t checksum =
          simclient::CheckDemoFlashSession(client, c.download, c.program, seed++);
      EXPECT_NE(checksum, previous);
      previous = checksum;
      // What the client read back is what the unit holds.
      const SimUnit* display = network.connected();
      EXPECT_EQ(display->role, SimRole::kApplication);
      EXPECT_EQ(display->reportedChecksum, checksum);
    }
  }
}

TEST_F(DemoTransports, WindowedProgrammingCopesWithLateOutOfOrderReplies) {
  network.connected()->windowedRepliesLate = true;
  for (bool lineModel : {false, true}) {
    network.SetLineModel(lineModel);
    simclient::CheckDemoFlashSession(client, MemoryTransport::kWindowed, MemoryTransport::kWindowed,
                                     lineModel ? 10 : 9, true);
  }
}

// Lost windowed program requests and replies, and a lost file block: the
// unit takes pieces only in order and answers repeats without writing them
// again, and NACKs blocks after a gap, so sending again from the oldest
// brings both transfers through intact.
TEST_F(DemoTransports, LostWindowedPiecesAndFileBlocksAreSentAgain) {
  auto rule = [](FaultKind kind, int service, int command, uint32_t at) {
    FaultRule r;
    r.kind = kind;
    r.service = service;
    r.command = command;
    r.atPacket = at;
    return r;
  };
  network.faults().Add(rule(FaultKind::kDropRequest, 0x45, 0x1041, 3));
  network.faults().Add(rule(FaultKind::kDropReply, 0x45, 0x1041, 7));
  network.faults().Add(rule(FaultKind::kDropRequest, 0x47, '2', 2));
  network.faults().Add(rule(FaultKind::kDropReply, 0x48, '2', 4));
  simclient::CheckDemoFileWrites(client);
  const int staleBefore = client.staleReplies();
  simclient::CheckDemoFlashSession(client, MemoryTransport::kWindowed, MemoryTransport::kWindowed,
                                   5);
  EXPECT_GT(client.staleReplies(), staleBefore);
  for (const FaultRule& r : network.faults().rules()) EXPECT_EQ(r.fired, 1u);
}

// A unit whose software area was erased restarts into its boot loader,
// which says so in boot flag bit 0 and still identifies the board; once
// software is programmed again a reset starts it.
TEST_F(DemoTransports, ErasedSoftwareKeepsTheUnitInItsBootLoader) {
  using simclient::Bytes;
  ASSERT_TRUE(client.Open(19200));
  ASSERT_TRUE(client.GotoBootLoader(10));
  client.Pause(400);
  ASSERT_TRUE(client.Open(115200));
  Bytes info;
  ASSERT_TRUE(client.ReadUnitInfo(1, info));
  EXPECT_EQ(info, (Bytes{1, 0x45, 0x10, 0x10, 0x02, 0x8D, 0x00, 0x02, 0x02, 0x60, 0x01, 0x0C}));
  const simclient::Record programmer{0x10000000, Bytes(64, 0xAA)};
  ASSERT_TRUE(client.WriteMemory({programmer}, MemoryTransport::kSmall));
  ASSERT_TRUE(client.TransferToRam(0x10000000));
  ASSERT_TRUE(client.EraseRange(0x1A004000, 0x1B07FFFF));
  ASSERT_TRUE(client.Reset());
  client.Pause(400);

  ASSERT_TRUE(client.Open(19200));
  EXPECT_FALSE(client.Ping(10));
  ASSERT_TRUE(client.Open(115200));
  Bytes release;
  ASSERT_TRUE(client.ReadBootLoaderRelease(release));
  EXPECT_EQ(release[12] & 0x01, 0x01);
  EXPECT_EQ(network.connected()->role, SimRole::kBootLoader);
  // No application: version 0, and the last word is the product word.
  ASSERT_TRUE(client.ReadUnitInfo(1, info));
  EXPECT_EQ(info, (Bytes{1, 0x45, 0x10, 0x10, 0x02, 0x8D, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00}));

  // A programmer is needed again: the restart cleared RAM.
  ASSERT_TRUE(client.WriteMemory({programmer}, MemoryTransport::kSmall));
  ASSERT_TRUE(client.TransferToRam(0x10000000));
  ASSERT_TRUE(client.ProgramFlash({{0x1A004000, Bytes(128, 0x5A)}}, MemoryTransport::kSmall));
  ASSERT_TRUE(client.Reset());
  client.Pause(400);
  ASSERT_TRUE(client.Open(19200));
  EXPECT_TRUE(client.Ping(10));
  EXPECT_EQ(network.connected()->bootFlags & 0x01, 0);
}

}  // namespace
}  // namespace kel::sim
