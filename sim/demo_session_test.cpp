// A whole session against the demo scenario on the in-memory line, through
// the default role handlers: identification of all three units, a file
// written in data blocks, and software flashed through the boot loader and
// the RAM programmer, then a restart into the application.

#include <gtest/gtest.h>

#include <string>

#include "platform/memory_serial.h"
#include "platform/virtual_clock.h"
#include "sim/memory_peer.h"
#include "sim/scenario.h"
#include "sim/sim_test_support.h"

namespace kel::sim {
namespace {

using testing::Line;
using testing::WithCrc;

class DemoSession : public ::testing::Test {
 protected:
  void SetUp() override {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(LoadScenario(std::string(KEL_SOURCE_DIR) + "/sim/scenarios/demo.scn", scenario, error)) << error;
    BuildNetwork(scenario, network);
    peer = std::make_unique<MemoryPeer>(network, line);
    line.config = Line(19200);
  }

  // Sends one frame and collects what arrives within `waitMs`.
  std::vector<uint8_t> Exchange(const std::vector<uint8_t>& wire, uint32_t waitMs = 100) {
    line.HostWrite(wire.data(), wire.size());
    clock.Advance(waitMs);
    std::vector<uint8_t> got(4096);
    got.resize(line.HostRead(got.data(), got.size()));
    return got;
  }
  std::vector<uint8_t> Call(std::vector<uint8_t> payload, uint32_t waitMs = 100) {
    return Exchange(WithCrc(std::move(payload)), waitMs);
  }
  static std::vector<uint8_t> LengthFramed(std::vector<uint8_t> payload) {
    std::vector<uint8_t> wire = {0xF1, static_cast<uint8_t>(payload.size() + 2)};
    const auto body = WithCrc(std::move(payload));
    wire.insert(wire.end(), body.begin(), body.end());
    return wire;
  }

  VirtualClock clock;
  MemorySerialLine line{clock};
  SimNetwork network;
  std::unique_ptr<MemoryPeer> peer;
};

TEST_F(DemoSession, IdentifiesAllThreeUnits) {
  EXPECT_EQ(Call({0xF0, 0x41}), WithCrc({0xF0, 0x42}));
  EXPECT_EQ(Call({0xF0, 0x45, 0x10, 0x1B}), WithCrc({0xF0, 0x45, 0x10, 0x1B, 0x0A}));
  EXPECT_EQ(Call({0x0A, 0x45, 0x10, 0x17}), WithCrc({0x0A, 0x45, 0x10, 0x17, 0x02, 0x03, 0x0C}));
  for (uint8_t address : {0x0A, 0x03, 0x0C}) {
    const auto reply = Call({address, 0x45, 0x10, 0x10});
    ASSERT_EQ(reply.size(), 14u) << int(address);
    EXPECT_EQ(reply[0], address);
    EXPECT_EQ((reply[4] << 8) | reply[5], address == 0x0A ? 653 : 659);
    EXPECT_EQ(ModbusCrc16(reply), 0);
  }
}

TEST_F(DemoSession, WritesAFileIntoARemoteUnitInDataBlocks) {
  // CreateFile drive 1 file 0x01E0 on the transmitter at address 3.
  EXPECT_EQ(Call({0x03, 0x45, 0x10, 0x29, 0x01, 0x01, 0xE0}),
            WithCrc({0x03, 0x45, 0x10, 0x29, 0x01, 0x01, 0xE0, 0x00}));
  // Two "G" blocks of 4 bytes; each is acknowledged with "3" up to its offset.
  const auto ack1 = Exchange(LengthFramed({0x03, 0x47, 0x32, 0x01, 0x01, 0xE0, 0, 0, 0, 0, 4, 'a', 'b', 'c', 'd'}));
  ASSERT_GE(ack1.size(), 12u);
  const auto ack2 = Exchange(LengthFramed({0x03, 0x47, 0x32, 0x01, 0x01, 0xE0, 0, 0, 0, 4, 4, 'e', 'f', 'g', 'h'}));
  ASSERT_GE(ack2.size(), 12u);
  EXPECT_EQ(Call({0x03, 0x45, 0x10, 0x2C, 0x01, 0x01, 0xE0}),
            WithCrc({0x03, 0x45, 0x10, 0x2C, 0x01, 0x01, 0xE0, 0x00}));
  const SimFile* file = network.Find("kt5-left")->files.Find(1, 0x01E0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(std::string(file->data.begin(), file->data.end()), "abcdefgh");
  EXPECT_EQ(network.Find("kt5-right")->files.Find(1, 0x01E0), nullptr);
}

TEST_F(DemoSession, FlashesThroughTheBootLoaderAndProgrammerThenRestarts) {
  const uint32_t checksumBefore = network.connected()->reportedChecksum;
  EXPECT_EQ(Call({0x0A, 0x45, 0x10, 0x11}), WithCrc({0x0A, 0x45, 0x10, 0x11}));
  clock.Advance(400);
  line.config = Line(9600);
  const auto version = Call({0x01, 0x45, 0x10, 0x12});
  ASSERT_EQ(version.size(), 7u);
  // A two-byte "programmer" into RAM, then started.
  EXPECT_EQ(Call({0x01, 0x45, 0x10, 0x20, 0x10, 0x08, 0x00, 0x00, 0x02, 0x4F, 0x4B}),
            WithCrc({0x01, 0x45, 0x10, 0x20, 0x10, 0x08, 0x00, 0x00, 0x02}));
  EXPECT_EQ(Call({0x01, 0x45, 0x10, 0x22, 0x10, 0x08, 0x00, 0x00}), WithCrc({0x01, 0x45, 0x10, 0x22}));
  EXPECT_EQ(network.connected()->role, SimRole::kProgrammer);
  EXPECT_TRUE(Call({0x01, 0x45, 0x10, 0x31}).empty());  // still at 9600: the programmer is at 115200
  line.config = Line(115200);
  EXPECT_EQ(Call({0x01, 0x45, 0x10, 0x31}).size(), 8u);
  // Program four bytes of software at 0x1A004000.
  const auto programmed = Call({0x01, 0x45, 0x10, 0x40, 0x1A, 0x00, 0x40, 0x00, 0x04, 1, 2, 3, 4});
  EXPECT_EQ(programmed, WithCrc({0x01, 0x45, 0x10, 0x40, 0x1A, 0x00, 0x40, 0x00, 0x04, 0x00}));
  EXPECT_EQ(network.connected()->flash.Read(0x1A004000, 4), (std::vector<uint8_t>{1, 2, 3, 4}));
  // Reset: silent while restarting, then the application at its own speed
  // reports the check values of what is now in flash.
  EXPECT_EQ(Call({0x01, 0x45, 0x10, 0x32}), WithCrc({0x01, 0x45, 0x10, 0x32}));
  clock.Advance(400);
  line.config = Line(19200);
  EXPECT_EQ(Call({0x0A, 0x41}), WithCrc({0x0A, 0x42}));
  EXPECT_EQ(network.connected()->role, SimRole::kApplication);
  EXPECT_NE(network.connected()->reportedChecksum, checksumBefore);
}

}  // namespace
}  // namespace kel::sim
