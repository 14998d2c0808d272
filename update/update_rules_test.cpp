#include "update/update_rules.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

TEST(UpdateRules, BootLoaderReasons) {
  struct Case {
    bool manufacturing, writeAlways, updateBootLoader, forced;
    int release;
    const char* reason;
  };
  const Case cases[] = {
      {false, false, false, false, 18, ""},
      {false, true, false, false, 18, ""},  // -w alone never rewrites a boot loader
      {true, true, false, false, 24, "because -w command line option specified"},
      {true, false, false, false, 23, "because it is older than the new version"},
      {true, false, false, false, 24, ""},
      {false, true, true, false, 24, "because -u and -w command line options specified"},
      {false, false, true, false, 23,
       "because -u command line option specified and it is older than the new version"},
      {false, false, true, false, 24, ""},
      {false, false, false, true, 24, "(UpdateBootLoader parameter is true)"},
  };
  for (const Case& c : cases) {
    Options options;
    options.manufacturingMode = c.manufacturing;
    options.writeAlways = c.writeAlways;
    options.updateBootLoader = c.updateBootLoader;
    UnitInfo unit;
    unit.bootLoaderRelease = static_cast<int8_t>(c.release);
    EXPECT_EQ(BootLoaderReason(options, unit, c.forced), c.reason)
        << c.manufacturing << c.writeAlways << c.updateBootLoader << c.forced << " " << c.release;
  }
}

TEST(UpdateRules, SoftwareReasons) {
  struct Case {
    int version, release, bootLoaderRelease;
    uint8_t bootFlags;
    bool checksumDiffers;
    const char* reason;
  };
  const Case cases[] = {
      {590, 10, 18, 0, false, "it is different than the current version"},
      {620, 1, 18, 0, false, "it is different than the current version"},
      {610, 56, 18, 0, false, "it is different than the current version"},
      {610, 57, 18, 0, true, "the checksum is different"},
      {610, 57, 18, kBootFlagNoSoftware, false, "there is no software in the unit"},
      {610, 57, 18, kBootFlagFlashCheckFailed, false, "the MCU FLASH check failed"},
      {610, 57, 3, 0, false, "the checksum is not available (old boot loader)"},
      {610, 57, 4, 0, false, ""},
  };
  for (const Case& c : cases) {
    UnitInfo unit;
    unit.softwareVersion = static_cast<int16_t>(c.version);
    unit.softwareRelease = static_cast<uint8_t>(c.release);
    unit.bootLoaderRelease = static_cast<int8_t>(c.bootLoaderRelease);
    unit.bootFlags = c.bootFlags;
    bool asked = false;
    EXPECT_EQ(SoftwareReason(unit,
                             [&] {
                               asked = true;
                               return c.checksumDiffers;
                             }),
              c.reason)
        << c.version << "r" << c.release;
    // Only a unit at the embedded version is asked for its checksum.
    EXPECT_EQ(asked, c.version == 610 && c.release == 57);
  }
}

TEST(UpdateRules, DowngradeAndTestSoftware) {
  UnitInfo unit;
  unit.softwareVersion = 620;
  unit.buildIncrement = 1;
  EXPECT_FALSE(RefusesDowngrade(unit));
  unit.buildIncrement = 2;
  EXPECT_TRUE(RefusesDowngrade(unit));
  unit.softwareVersion = 590;  // build increments mean nothing before 6.00
  EXPECT_FALSE(RefusesDowngrade(unit));

  unit.unitFlags = kUnitFlagCardTester;
  EXPECT_FALSE(IsPreProductionBoard(unit, false));
  EXPECT_TRUE(IsPreProductionBoard(unit, true));
  EXPECT_TRUE(HasTestSoftware(unit));
  unit.unitFlags = 0;
  unit.bootFlags = kBootFlagPreProduction;
  EXPECT_TRUE(IsPreProductionBoard(unit, false));
  unit.bootFlags = kBootFlagJtag;
  EXPECT_FALSE(IsPreProductionBoard(unit, true));
  EXPECT_TRUE(HasTestSoftware(unit));
}

}  // namespace
}  // namespace kel
