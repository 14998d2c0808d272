#include "sim/software_checksum.h"

#include <gtest/gtest.h>

#include "sim/crc16.h"
#include "sim/file_checksums.h"
#include "sim/sim_unit.h"
#include "tests/sim_flash_support.h"

namespace kel::sim {
namespace {

TEST(SimSoftwareChecksum, RegionsByUnitAndMcu) {
  const auto kt3 = SoftwareRegions(UnitTypeOfCard(648), 5);
  ASSERT_EQ(kt3.size(), 1u);
  EXPECT_EQ(kt3[0].first, 0x4000u);
  EXPECT_EQ(kt3[0].last, 0x756FFu);
  const auto kd4 = SoftwareRegions(UnitTypeOfCard(653), 6);
  ASSERT_EQ(kd4.size(), 2u);
  EXPECT_EQ(kd4[0].first, 0x1A004000u);
  EXPECT_EQ(kd4[1].last, 0x1B075BFFu);
  EXPECT_TRUE(SoftwareRegions(4, 7).empty());
}

TEST(SimSoftwareChecksum, ScenarioValuesUntilFlashHoldsSoftwareThenComputed) {
  SimUnit unit;
  unit.cardNumber = 649;  // KR3 on an LPC1768: 0x4000..0x30BFF
  unit.mcuType = 5;
  unit.softwareChecksum = 0x46199722;
  unit.softwareCrc = 0x687D;
  EXPECT_EQ(ReportedSoftwareCheck(unit).checksum, 0x46199722u);
  // Bytes outside the regions do not count.
  unit.flash.Write(0x30C00, testing::Pattern(16, 1));
  EXPECT_EQ(ReportedSoftwareCheck(unit).crc, 0x687Du);

  unit.flash.Write(0x4000, testing::Pattern(64, 2));
  const SoftwareCheck first = ReportedSoftwareCheck(unit);
  // Computed over the whole region in order, erased bytes included.
  std::vector<uint8_t> region = unit.flash.Read(0x4000, 0x30C00 - 0x4000);
  EXPECT_EQ(first.checksum, Crc32(region.data(), region.size()));
  EXPECT_EQ(first.crc, ModbusCrc16(region.data(), region.size()));

  unit.flash.Write(0x30BFF, std::vector<uint8_t>{0x00});  // last byte of the region
  const SoftwareCheck second = ReportedSoftwareCheck(unit);
  EXPECT_NE(second.checksum, first.checksum);
  EXPECT_NE(second.crc, first.crc);
}

}  // namespace
}  // namespace kel::sim
