// A blank chip answers its ROM's autobaud handshake; a stand-in boot tool
// turns it into a unit with a boot loader through the control channel.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "platform/memory_serial.h"
#include "platform/virtual_clock.h"
#include "sim/control_channel.h"
#include "sim/memory_peer.h"
#include "sim/scenario.h"
#include "tests/platform_test_support.h"
#include "tests/sim_client.h"
#include "tests/sim_flash_support.h"

namespace kel::sim {
namespace {

using simclient::Bytes;
using testing::BuildRecordImage;
using testing::Pattern;

TEST(SimBlankChip, BecomesABootLoaderUnitThroughTheControlChannel) {
  Scenario scenario;
  std::string error;
  ASSERT_TRUE(
      LoadScenario(std::string(KEL_SOURCE_DIR) + "/sim/scenarios/blank_chip.scn", scenario, error))
      << error;
  VirtualClock clock;
  MemorySerialPorts ports{clock};
  SimNetwork network;
  BuildNetwork(scenario, network);
  MemoryPeer peer(network, ports.AddLine(1));
  simclient::SimClient client{ports, 1, clock};
  ASSERT_TRUE(client.Open(115200));
  client.SendRaw({'?'});
  Bytes text;
  ASSERT_TRUE(client.ReceiveRaw(text, 14));
  EXPECT_EQ(std::string(text.begin(), text.end()), "Synchronized\r\n");

  TemporaryFolder dir;
  const std::vector<uint8_t> code = Pattern(768, 1);
  const auto image = BuildRecordImage(0, {{0, code}, {0x3D00, Pattern(256, 2)}});
  ASSERT_TRUE(WriteTextFile(dir.File("boot.bin"), std::string(image.begin(), image.end())));
  const std::map<int, SimNetwork*> served{{1, &network}};
  EXPECT_EQ(
      RunControlCommands("# from the stand-in boot tool\nboot-loader COM1 4r18 image=boot.bin\n",
                         served, dir.path()),
      "ok boot-loader COM1 4r18 image=boot.bin\n");

  // Now a boot loader answers at address 1: LPC1768, version 4, release
  // 18, and boot flag bit 0 (no application software).
  client.Discard();
  uint8_t version = 0;
  ASSERT_TRUE(client.ReadBootLoaderVersion(version));
  EXPECT_EQ(version, 0x54);
  Bytes release;
  ASSERT_TRUE(client.ReadBootLoaderRelease(release));
  EXPECT_EQ(release[7], 18);
  EXPECT_EQ(release[12] & 0x01, 0x01);
  EXPECT_EQ(network.connected()->flash.Read(0, 768), code);

  // What comes through the channel is checked like any input from outside.
  const std::string replies = RunControlCommands(
      "boot-loader COM1 4r18\nreboot COM1\nboot-loader COM9 4r18\nboot-loader port1 4r18\n"
      "boot-loader COM1 four\nboot-loader COM1 4r18 image=missing.bin\n",
      served, dir.path());
  EXPECT_EQ(replies,
            "error: line 1: COM1: holds no blank chip\n"
            "error: line 2: unknown command 'reboot'\n"
            "error: line 3: COM9 is not served\n"
            "error: line 4: expected a port like COM3, not 'port1'\n"
            "error: line 5: expected a boot loader like 4r18, not 'four'\n"
            "error: line 6: cannot read " +
                (std::filesystem::path(dir.path()) / "missing.bin").string() + "\n");
}

// A power cycle through the channel ends a running programmer: the display
// comes back in its application, at its own speed.
TEST(SimBlankChip, PowerCycleThroughTheControlChannelEndsTheProgrammer) {
  Scenario scenario;
  std::string error;
  ASSERT_TRUE(
      LoadScenario(std::string(KEL_SOURCE_DIR) + "/sim/scenarios/demo.scn", scenario, error))
      << error;
  VirtualClock clock;
  MemorySerialPorts ports{clock};
  SimNetwork network;
  BuildNetwork(scenario, network);
  MemoryPeer peer(network, ports.AddLine(3));
  simclient::SimClient client{ports, 3, clock};
  ASSERT_TRUE(client.Open(19200));
  ASSERT_TRUE(client.GotoBootLoader(10));
  client.Pause(400);
  ASSERT_TRUE(client.Open(115200));
  ASSERT_TRUE(
      client.WriteMemory({{0x10000000, Bytes(64, 0xAA)}}, simclient::MemoryTransport::kSmall));
  ASSERT_TRUE(client.TransferToRam(0x10000000));
  ASSERT_EQ(network.connected()->role, SimRole::kProgrammer);

  const std::map<int, SimNetwork*> served{{3, &network}};
  EXPECT_EQ(
      RunControlCommands("power-cycle COM3\npower-cycle COM3 now\n", served, "", clock.Ticks()),
      "ok power-cycle COM3\nerror: line 2: unknown option 'now'\n");
  client.Pause(2000);
  ASSERT_TRUE(client.Open(19200));
  EXPECT_TRUE(client.Ping(10));
  EXPECT_EQ(network.connected()->role, SimRole::kApplication);
}

}  // namespace
}  // namespace kel::sim
