#include "update/update_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/changing_requests.h"
#include "tests/update_fixture.h"
#include "tests/update_units.h"
#include "update/field_update.h"
#include "update/update_history.h"

namespace kel {
namespace {

// Plans the update of the connected unit; the console and the summary
// lines. Only reads may have been sent.
std::vector<std::string> Plan(UpdateFixture& f, std::string& console) {
  std::vector<SummaryLine> planned;
  EXPECT_EQ(f.Run([&] { PlanUpdate(f.files, f.unit, ProductionTarget{}, planned); }), -1);
  std::vector<std::vector<uint8_t>> sent;
  for (const auto& entry : f.network->transcript().entries()) {
    if (entry.direction == sim::TranscriptEntry::Direction::kToUnit) sent.push_back(entry.bytes);
  }
  EXPECT_TRUE(ChangingRequests(sent).empty()) << ChangingRequests(sent).front();
  console = f.Console();
  std::vector<std::string> lines;
  for (const SummaryLine& line : planned) lines.push_back(FormatSummaryLine(line));
  return lines;
}

// The plan takes the update's decisions unit by unit, from reads alone.
TEST(PlanUpdate, DecidesAsTheUpdateWouldFromReadsAlone) {
  struct Case {
    const char* name;
    const char* units;
    bool firstUnitOnly, writeAlways;
    std::vector<std::string> lines;
    const char* shown;
  };
  const Case cases[] = {
      {"the field update of a network",
       kKd4WithTwoKt5,
       false,
       false,
       {"   3  KT5 Transmitter  v6.08r12 -> v6.10r57  would get update files",
        "   10  KD4/KP4 Display  v6.08r12 -> v6.10r57  would get update files",
        "   12  KT5 Transmitter  v6.08r12 -> v6.10r57  would get update files"},
       "update files, applied when the unit restarts (115200 baud)"},
      {"-f: the connected unit directly",
       kKd4WithTwoKt5,
       true,
       false,
       {"   10  KD4/KP4 Display  v6.08r12 -> v6.10r57  would be updated"},
       "direct: restarted into its boot loader, written by the flash programmer"},
      {"software before 6.00 tells no boot loader and no files",
       kOldKt3,
       false,
       false,
       {"   4  KT3 Transmitter  v5.90r00 -> v6.10r57  would be updated"},
       "Flash programmer: chosen once the unit is in its boot loader"},
      {"a newer unit is not put back",
       kNewerKt5,
       false,
       false,
       {"   5  KT5 Transmitter  v6.20r01 -> v6.20r01  would be refused"},
       "Refused         : The software cannot be downgraded to 6.10r57"},
      {"a boot loader too old for update files",
       kKt5WithOldBootLoaderBehind,
       false,
       false,
       {"   5  KT5 Transmitter  v6.10r57 -> v6.10r57  would get update files",
        "   8  KT5 Transmitter  v6.08r12 -> v6.08r12  would be refused"},
       "must have boot loader release 14 or later for remote update."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateFixture f;
    f.options.firstUnitOnly = c.firstUnitOnly;
    f.options.writeAlways = c.writeAlways;
    f.Start(c.units);
    std::string console;
    EXPECT_EQ(Plan(f, console), c.lines);
    EXPECT_NE(console.find(c.shown), std::string::npos) << console;
  }
}

// The files are compared one attributes request each: an up-to-date unit
// writes none of them, and -w writes them all without asking.
TEST(PlanUpdate, ComparesTheFilesUnlessAllAreWritten) {
  for (bool writeAlways : {false, true}) {
    SCOPED_TRACE(writeAlways);
    UpdateFixture f;
    f.Start(kOldKt3);
    // A first (real) update brings the transmitter's files up to date.
    ASSERT_EQ(f.Run([&] {
      UpdateHistory history(f.runtime, "");
      f.session.history = &history;
      FieldUpdateUnit(f.session, f.unit, false, true);
    }),
              -1)
        << f.Console();
    f.options.writeAlways = writeAlways;
    f.network->transcript().Clear();
    f.console.ClearOutput();
    std::string console;
    Plan(f, console);
    EXPECT_NE(console.find(writeAlways ? "Files           : 7 of 7 to write"
                                       : "Files           : 0 of 7 to write (0 bytes)"),
              std::string::npos)
        << console;
  }
}

}  // namespace
}  // namespace kel
