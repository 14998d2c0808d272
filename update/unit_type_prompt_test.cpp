#include "update/unit_type_prompt.h"

#include <gtest/gtest.h>

#include "tests/runtime_fixture.h"

namespace kel {

namespace {

TEST(UnitTypePrompt, AsksUntilAKnownTypeIsGivenEvenUnderYes) {
  RuntimeFixture f("4\rx1\r2\r");
  f.options.yesToPrompts = true;
  UnitInfo unit;
  AskUnitType(f.runtime, unit);
  EXPECT_EQ(unit.unitType, unitTypeTransmitter);
  // A test jig (4) and a mixed answer are asked again.
  size_t asked = 0;
  for (size_t at = 0; (at = f.Console().find("Please enter ponderix unit type (1=Display, "
                                             "2=Transmitter, 3=DisplayKZ6): ",
                                             at)) != std::string::npos;
       ++at) {
    ++asked;
  }
  EXPECT_EQ(asked, 3u);
}

TEST(UnitTypePrompt, InputThatHasEndedEndsTheRun) {
  RuntimeFixture f("9\r");
  UnitInfo unit;
  EXPECT_EQ(f.ExitCodeOf([&] { AskUnitType(f.runtime, unit); }), 1);
  EXPECT_NE(f.Console().find("Fatal Error: No unit type given: the input has ended"),
            std::string::npos);
}

TEST(UnitTypePrompt, AKnownTypeIsNotAsked) {
  RuntimeFixture f;
  UnitInfo unit;
  unit.unitType = unitTypeTestJig;
  AskUnitType(f.runtime, unit);
  EXPECT_EQ(f.Console(), "");
}

}  // namespace
}  // namespace kel
