#include "update/update_unit.h"

#include <gtest/gtest.h>

#include "tests/update_fixture.h"
#include "tests/update_units.h"
#include "update/field_update.h"

namespace kel {
namespace {

TEST(UpdateUnit, DirectUpdateWritesSoftwareAndLanguageFilesKeepingTheBootLoader) {
  UpdateFixture f;
  f.options.debug = true;
  f.Start(kOldKt3);
  f.options.verify = true;
  ASSERT_EQ(f.Run([&] { FieldUpdateUnit(f.session, f.unit, true, false); }), -1) << f.Console();
  const sim::SimUnit& kt3 = *f.network->connected();
  EXPECT_TRUE(f.HoldsImage(kt3, "soft_kt3_lpc1768"));
  EXPECT_FALSE(f.Has("-- ponderix boot loader will be updated"));
  EXPECT_TRUE(
      f.Has("-- updating ponderix software because it is different than the current version"))
      << f.Console();
  for (uint16_t file : {0x1E0, 0x1E1, 0x1E2, 0x1E3, 0x1E5, 0x1E6, 0x1EA}) {
    EXPECT_FALSE(f.FileOf(kt3, 1, file).empty()) << std::hex << file;
  }
  EXPECT_TRUE(f.Has("Success: all operations are complete\r\n"));
  EXPECT_EQ(f.unit.softwareVersion, 610);
}

}  // namespace
}  // namespace kel
