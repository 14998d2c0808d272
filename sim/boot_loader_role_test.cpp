#include "sim/boot_loader_role.h"

#include <gtest/gtest.h>

#include "sim/programmer_role.h"
#include "sim/sim_unit.h"
#include "tests/sim_flash_support.h"

namespace kel::sim {
namespace {

using testing::Command;
using testing::OnlyReply;
using testing::Pattern;

SimUnit BootLoaderUnit() {
  SimUnit unit;
  unit.role = SimRole::kBootLoader;
  unit.mcuType = 5;
  unit.cardNumber = 648;
  unit.bootLoaderVersion = 4;
  unit.bootLoaderRelease = 18;
  unit.bufferSize = 1024;
  return unit;
}

std::vector<uint8_t> Ask(SimUnit& unit, const std::vector<uint8_t>& request) {
  SimReplies replies;
  if (!HandleBootLoaderRequest(unit, request, replies)) return {};
  return OnlyReply(replies);
}

TEST(SimBootLoader, IdentifiesItself) {
  SimUnit unit = BootLoaderUnit();
  unit.bootFlags = 0x01;
  unit.softwareChecksum = 0x11223344;
  EXPECT_EQ(Ask(unit, Command(0x12).Take()), (std::vector<uint8_t>{1, 0x45, 0x10, 0x12, 0x54}));
  EXPECT_EQ(Ask(unit, Command(0x13).U8(1).Take()),
            (std::vector<uint8_t>{1, 0x45, 0x10, 0x13, 1, 5, 4, 18, 0x11, 0x22, 0x33, 0x44, 0x01}));
  EXPECT_EQ(Ask(unit, Command(0x1F).Take()),
            (std::vector<uint8_t>{1, 0x45, 0x10, 0x1F, 0x04, 0x00}));
  // Release 18 knows only the new codes; a release-10 unit only the old ones.
  EXPECT_TRUE(Ask(unit, Command(0x91).Take()).empty());
  unit.bootLoaderRelease = 10;
  EXPECT_EQ(Ask(unit, Command(0x91).Take()).size(), 6u);
  EXPECT_TRUE(Ask(unit, Command(0x1F).Take()).empty());
}

TEST(SimBootLoader, SpeedCodesFollowTheRelease) {
  SimUnit unit = BootLoaderUnit();
  unit.bootLoaderRelease = 14;  // old table: code 6 is 128000
  EXPECT_EQ(Ask(unit, Command(0x23).U8(6).Take()).size(), 4u);
  EXPECT_EQ(unit.nextBaudRate, 128000);
  unit.bootLoaderRelease = 15;  // new table: code 6 is 230400
  EXPECT_EQ(Ask(unit, Command(0x23).U8(6).Take()).size(), 4u);
  EXPECT_EQ(unit.nextBaudRate, 230400);
  unit.nextBaudRate = 0;
  EXPECT_TRUE(Ask(unit, Command(0x23).U8(9).Take()).empty());  // no code 9 in the new table
  EXPECT_TRUE(Ask(unit, Command(0x90).U8(5).Take()).empty());  // old command, new release
  EXPECT_EQ(unit.nextBaudRate, 0);
}

TEST(SimBootLoader, DownloadsVerifiesAndStartsTheProgrammer) {
  SimUnit unit = BootLoaderUnit();
  const uint32_t start = 0x100002CD;
  const std::vector<uint8_t> small = Pattern(128, 1);
  const std::vector<uint8_t> large = Pattern(700, 2);

  // Small records go with 0x20, larger ones with 0x24; each is echoed.
  const auto reply20 = Ask(unit, Command(0x20).U32(0x10000200).U8(128).Bytes(small).Take());
  EXPECT_EQ(reply20, (std::vector<uint8_t>{1, 0x45, 0x10, 0x20, 0x10, 0x00, 0x02, 0x00, 0x80}));
  const auto reply24 = Ask(unit, Command(0x24).U32(0x10000280).U16(700).Bytes(large).Take());
  EXPECT_EQ(reply24,
            (std::vector<uint8_t>{1, 0x45, 0x10, 0x24, 0x10, 0x00, 0x02, 0x80, 0x02, 0xBC}));

  // Examine reads back what was written.
  const auto examined = Ask(unit, Command(0x21).U32(0x100002F0).U8(16).Take());
  ASSERT_EQ(examined.size(), 9u + 16);
  EXPECT_TRUE(std::equal(examined.begin() + 9, examined.end(), large.begin() + 0x70));

  EXPECT_EQ(Ask(unit, Command(0x22).U32(start).Take()).size(), 4u);
  EXPECT_EQ(unit.role, SimRole::kProgrammer);
  EXPECT_EQ(unit.nextBaudRate, 115200);
  EXPECT_FALSE(unit.nextEvenParity);
  for (size_t i = 0; i < large.size(); ++i) ASSERT_EQ(unit.ram.Read(0x10000280 + i), large[i]);
}

// A programmer built for another microcontroller lies where this one has
// no RAM: the boot loader acknowledges the jump but does not start it.
TEST(SimBootLoader, StartsOnlyAProgrammerThatFitsItsRam) {
  struct Case {
    uint8_t mcuType;
    uint32_t load;
    bool starts;
  };
  const Case cases[] = {{5, 0x10000000, true},    // LPC1768 programmer on an LPC1768
                        {5, 0x10080000, false},   // LPC4337 programmer on an LPC1768
                        {6, 0x10080000, true},    // ... on an LPC4337
                        {3, 0x10000000, false},   // LPC1768 programmer on an LPC2478
                        {5, 0x10007F80, false}};  // runs past the end of the LPC1768's RAM
  for (const Case& c : cases) {
    SimUnit unit = BootLoaderUnit();
    unit.mcuType = c.mcuType;
    ASSERT_EQ(Ask(unit, Command(0x24).U32(c.load).U16(256).Bytes(Pattern(256, 1)).Take()).size(),
              10u);
    EXPECT_EQ(Ask(unit, Command(0x22).U32(c.load).Take()).size(), 4u);
    EXPECT_EQ(unit.role == SimRole::kProgrammer, c.starts)
        << int(c.mcuType) << " " << std::hex << c.load;
  }
}

TEST(SimBootLoader, BufferedChunksThenCommit) {
  SimUnit unit = BootLoaderUnit();
  const std::vector<uint8_t> data = Pattern(300, 3);
  for (uint32_t offset = 0; offset < data.size(); offset += 128) {
    const uint32_t n = std::min<uint32_t>(128, static_cast<uint32_t>(data.size()) - offset);
    const std::vector<uint8_t> chunk(data.begin() + offset, data.begin() + offset + n);
    const auto reply = Ask(unit, Command(0x38).U16(offset).U8(n).Bytes(chunk).Take());
    ASSERT_EQ(reply.size(), 7u);
    EXPECT_EQ(reply[6], n);
  }
  EXPECT_EQ(Ask(unit, Command(0x39).U32(0x10001000).U16(300).Take()).size(), 10u);
  EXPECT_EQ(unit.ram.Read(0x10001000 + 299), data[299]);
  // A commit longer than the buffer holds is not answered.
  EXPECT_TRUE(Ask(unit, Command(0x39).U32(0x10001000).U16(4000).Take()).empty());
}

TEST(SimBootLoader, MalformedRequestsAreIgnored) {
  SimUnit unit = BootLoaderUnit();
  const std::vector<uint8_t> data = Pattern(129, 4);
  EXPECT_TRUE(
      Ask(unit, Command(0x20).U32(0).U8(129).Bytes(data).Take()).empty());  // too long for 0x20
  EXPECT_TRUE(
      Ask(unit, Command(0x20).U32(0).U8(10).Bytes(Pattern(9, 5)).Take()).empty());  // short data
  EXPECT_TRUE(Ask(unit, Command(0x24).U32(0).U16(2000).Bytes(Pattern(2000, 6)).Take())
                  .empty());  // above buffer
  EXPECT_TRUE(
      Ask(unit, Command(0x21).U32(0xFFFFFFF0).U8(128).Take()).empty());  // wraps the address space
  EXPECT_TRUE(Ask(unit, Command(0x38).U16(1000).U8(100).Bytes(Pattern(100, 7)).Take())
                  .empty());  // past the buffer
  EXPECT_TRUE(Ask(unit, {1, 0x45, 0x10}).empty());
  EXPECT_TRUE(Ask(unit, {1, 0x45}).empty());
  EXPECT_TRUE(unit.ram.empty());
  // Starting a program that was never downloaded leaves the boot loader in charge.
  EXPECT_EQ(Ask(unit, Command(0x22).U32(0x10000000).Take()).size(), 4u);
  EXPECT_EQ(unit.role, SimRole::kBootLoader);
}

}  // namespace
}  // namespace kel::sim
