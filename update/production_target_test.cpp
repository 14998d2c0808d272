#include "update/production_target.h"

#include <gtest/gtest.h>

#include "tests/platform_test_support.h"
#include "tests/runtime_fixture.h"

namespace kel {
namespace {

struct TargetRun {
  explicit TargetRun(const std::string& lines) {
    f.options.parameterFile = folder.File("job.ini");
    EXPECT_TRUE(WriteTextFile(f.options.parameterFile, "KelManufacture=1\r\n" + lines));
  }
  TemporaryFolder folder;
  RuntimeFixture f;
};

TEST(ReadProductionTarget, AcceptsCodesAndNamesInAnyCase) {
  struct Case {
    const char* lines;
    uint8_t unitType;
    int8_t mcuA, mcuB;
    const char* described;
  };
  const Case cases[] = {
      {"UnitType=2\r\nMcuType=6,7\r\n", 2, 6, 7, "Transmitter (LPC4337 or LPC4357)"},
      {"UnitType=transmitter\r\nMcuType=LPC4337 lpc4357\r\n", 2, 6, 7,
       "Transmitter (LPC4337 or LPC4357)"},
      {"McuType=LPC1768\r\nUnitType=Display\r\n", 1, 5, 5, "Display (LPC1768)"},
      {"UnitType=IOUnit\r\nMcuType=5\r\n", 3, 5, 5, "IOUnit (LPC1768)"},
      {"UnitType=Test Jig\r\nMcuType=4;3\r\n", 4, 4, 3, "TestJig (LPC4078 or LPC2478)"},
  };
  for (const Case& c : cases) {
    TargetRun run(c.lines);
    const ProductionTarget target = ReadProductionTarget(run.f.runtime);
    EXPECT_TRUE(target.named) << c.lines;
    EXPECT_EQ(target.unitType, c.unitType) << c.lines;
    EXPECT_EQ(target.mcuA, c.mcuA) << c.lines;
    EXPECT_EQ(target.mcuB, c.mcuB) << c.lines;
    EXPECT_EQ(DescribeTarget(target), c.described);
  }
  TargetRun none("Program=1\r\n");
  EXPECT_FALSE(ReadProductionTarget(none.f.runtime).named);
}

TEST(ReadProductionTarget, RefusesBadValuesNamingTheKey) {
  const std::pair<const char*, const char*> cases[] = {
      {"UnitType=5\r\nMcuType=5\r\n", "Parameter file key UnitType=5 is not valid (1-4, "},
      {"UnitType=Scale\r\nMcuType=5\r\n", "Parameter file key UnitType=Scale is not valid"},
      {"UnitType=2\r\nMcuType=LPC9999\r\n", "Parameter file key McuType=LPC9999 is not valid"},
      {"UnitType=2\r\nMcuType=0\r\n", "Parameter file key McuType=0 is not valid"},
      {"UnitType=2\r\nMcuType=5,6,7\r\n", "Parameter file key McuType=5,6,7 is not valid"},
      {"UnitType=2\r\nMcuType=-5\r\n", "Parameter file key McuType=-5 is not valid"},
      {"UnitType=2\r\n", "Parameter file key McuType is missing"},
      {"McuType=5\r\n", "Parameter file key UnitType is missing"},
  };
  for (const auto& [lines, message] : cases) {
    TargetRun run(lines);
    EXPECT_EQ(run.f.ExitCodeOf([&] { ReadProductionTarget(run.f.runtime); }), 2) << lines;
    EXPECT_NE(run.f.console.output().find(std::string("Fatal Error: ") + message),
              std::string::npos)
        << run.f.console.output();
  }
}

}  // namespace
}  // namespace kel
