// The chip starts a boot loader only from a whole boot region: the demo's
// display gets the catalogue's boot loader through its programmer, whole or
// cut short, and is then reset or switched off and on.

#include "sim/boot_region.h"

#include <gtest/gtest.h>

#include "images/embedded_blobs.h"
#include "platform/memory_serial.h"
#include "platform/virtual_clock.h"
#include "sim/memory_peer.h"
#include "sim/scenario.h"
#include "sim/update_files.h"
#include "tests/sim_client.h"

namespace kel::sim {
namespace {

using simclient::Bytes;
using simclient::MemoryTransport;
using simclient::Record;

constexpr uint8_t kDisplay = 10;
constexpr uint32_t kProgrammerRam = 0x10000000;

std::vector<Record> CatalogueBootLoader() {
  const EmbeddedBlob* blob = FindEmbeddedBlob("boot_kd4_lpc4337");
  std::vector<ImageRecord> parsed;
  if (blob == nullptr || !ParseRecordImage(blob->data(), blob->size(), parsed)) return {};
  std::vector<Record> records;
  for (const ImageRecord& r : parsed) records.push_back({r.address, r.data});
  return records;
}

// The demo network with its display running a programmer in RAM.
class BootRegionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(
        LoadScenario(std::string(KEL_SOURCE_DIR) + "/sim/scenarios/demo.scn", scenario, error))
        << error;
    BuildNetwork(scenario, network);
    ASSERT_TRUE(client.Open(19200));
    ASSERT_TRUE(client.GotoBootLoader(kDisplay));
    client.Pause(400);
    ASSERT_TRUE(client.Open(115200));
    ASSERT_TRUE(client.WriteMemory({{kProgrammerRam, Bytes(64, 0xAA)}}, MemoryTransport::kSmall));
    ASSERT_TRUE(client.TransferToRam(kProgrammerRam));
    ASSERT_EQ(unit().role, SimRole::kProgrammer);
  }

  SimUnit& unit() { return *network.connected(); }

  // After a reset or power cycle: what answers.
  SimRole RoleAfter(bool powerCycle) {
    if (powerCycle) {
      network.PowerCycle(clock.Ticks());
    } else {
      EXPECT_TRUE(client.Reset());
    }
    client.Pause(2000);
    network.Advance(clock.Ticks());
    return unit().role;
  }

  VirtualClock clock;
  MemorySerialPorts ports{clock};
  SimNetwork network;
  MemoryPeer peer{network, ports.AddLine(3)};
  simclient::SimClient client{ports, 3, clock};
};

TEST_F(BootRegionTest, AWholeBootLoaderStartsAndReportsWhatItHolds) {
  const std::vector<Record> image = CatalogueBootLoader();
  ASSERT_EQ(image.size(), 4u);
  ASSERT_TRUE(client.ProgramFlash(image, MemoryTransport::kWindowed));
  EXPECT_EQ(ReadBootRegion(unit()).state, BootRegionState::kWhole);
  EXPECT_EQ(RoleAfter(false), SimRole::kApplication);
  EXPECT_EQ(unit().bootLoaderVersion, 4);
  EXPECT_EQ(unit().bootLoaderRelease, 24);  // the scenario's 4r18 is gone
  ASSERT_TRUE(client.Open(19200));
  EXPECT_TRUE(client.Ping(kDisplay));
}

class CutShortTest : public BootRegionTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CutShortTest, ABootLoaderCutShortLeavesOnlyTheRomLoader) {
  std::vector<Record> image = CatalogueBootLoader();
  image.pop_back();  // the block with the trailer never written
  ASSERT_TRUE(client.ProgramFlash(image, MemoryTransport::kWindowed));
  EXPECT_EQ(ReadBootRegion(unit()).state, BootRegionState::kBroken);
  EXPECT_EQ(RoleAfter(GetParam()), SimRole::kBlankChip);
  ASSERT_TRUE(client.Open(19200));
  EXPECT_FALSE(client.Ping(kDisplay));
  ASSERT_TRUE(client.Open(115200));
  client.SendRaw({'?'});
  Bytes text;
  ASSERT_TRUE(client.ReceiveRaw(text, 14));
  EXPECT_EQ(std::string(text.begin(), text.end()), "Synchronized\r\n");
}

INSTANTIATE_TEST_SUITE_P(After, CutShortTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "PowerCycle" : "Reset"; });

// Only the backup fields rewritten (the programmer erased nothing else):
// the boot loader is still the scenario's.
TEST_F(BootRegionTest, TheBackupFieldsAloneLeaveTheBootLoader) {
  NoteBootRegionWrite(unit(), 0x1A000400, 0x1A0005FF);
  EXPECT_EQ(ReadBootRegion(unit()).state, BootRegionState::kScenario);
  NoteBootRegionWrite(unit(), 0x1A0005FF, 0x1A000600);
  EXPECT_EQ(ReadBootRegion(unit()).state, BootRegionState::kBroken);
}

}  // namespace
}  // namespace kel::sim
