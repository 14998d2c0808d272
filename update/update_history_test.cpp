#include "update/update_history.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/platform_test_support.h"
#include "tests/runtime_fixture.h"
#include "unit/card_table.h"

namespace kel {
namespace {

// A history file of its own and a KT3 record at address 4 running `software`.
struct HistoryFixture : RuntimeFixture {
  explicit HistoryFixture(int16_t software = 610) {
    unit.connectionMode = modeApplication;
    unit.unitAddress = 4;
    unit.cardNumber = 648;
    unit.mcuType = mcuLPC1768;
    unit.softwareVersion = software;
  }

  /// The rows written so far (header left out), each split at its commas.
  std::vector<std::vector<std::string>> Rows() {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(ReadTextFile(path));
    std::string line;
    std::getline(lines, line);  // the header
    while (std::getline(lines, line)) {
      std::vector<std::string> fields(1);
      for (char c : line) {
        if (c == ',') {
          fields.emplace_back();
        } else if (c != '\r') {
          fields.back() += c;
        }
      }
      rows.push_back(fields);
    }
    return rows;
  }

  static constexpr size_t kBootLoaderBefore = 10;
  static constexpr size_t kOutcome = 12;

  TemporaryFolder folder;
  std::string path = folder.File(kHistoryFileName);
  UnitInfo unit;
};

// Software before 6.00 does not tell its boot loader; the boot loader does
// once the update reaches it, and the row says what it reported, whatever
// the outcome.
TEST(UpdateHistory, TheBootLoaderAUnitReportedDuringItsUpdateIsItsBootLoaderBefore) {
  for (const char* outcome : {"refused", "failed"}) {
    SCOPED_TRACE(outcome);
    HistoryFixture f(590);
    {
      UpdateHistory history(f.runtime, f.path);
      history.Begin(f.unit);
      // What the boot loader reported into the record the update works on.
      f.unit.bootLoaderVersion = 4;
      f.unit.bootLoaderRelease = 18;
      if (outcome == std::string("refused")) {
        history.Refused(f.unit, "The software cannot be downgraded to 6.10r57");
      } else {
        f.ExitCodeOf([&] { f.runtime.FatalError("Unable to write new software"); });
      }
    }
    const auto rows = f.Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][HistoryFixture::kBootLoaderBefore], "v4 r18");
    EXPECT_EQ(rows[0][HistoryFixture::kOutcome], outcome);
  }
}

// Fieldbus description files are taken by the unit as they are: a unit that
// got only those is updated, not up to date, by update files or directly.
TEST(UpdateHistory, AUnitThatGotOnlyFieldbusFilesIsUpdated) {
  for (bool updateFiles : {true, false}) {
    SCOPED_TRACE(updateFiles);
    HistoryFixture f;
    {
      UpdateHistory history(f.runtime, f.path);
      history.Begin(f.unit);
      history.WentThrough(f.unit, false, false, false, updateFiles, true);
      history.Complete();
    }
    const auto rows = f.Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][HistoryFixture::kOutcome], "updated");
  }
}

// The closing summary reads the history's records: a unit written
// directly with its coming outcome, update files without "(at restart)"
// once the units restarted, and the unit in hand at a fatal error as
// failed, all before the run's last line and only once.
TEST(UpdateHistory, TheSummaryShowsEachUnitAsItsRowDoes) {
  HistoryFixture f;
  f.options.yesToPrompts = true;
  UnitInfo remote = f.unit;
  remote.unitAddress = 7;
  remote.cardNumber = 659;
  remote.softwareVersion = 608;
  remote.softwareRelease = 12;
  UnitInfo third = remote;
  third.unitAddress = 9;
  UpdateHistory history(f.runtime, f.path);
  history.Begin(remote);
  history.WentThrough(remote, false, true, true, true);
  history.UnitsRestarted(true);
  history.Begin(f.unit);
  history.WentThrough(f.unit, false, true, false, false);
  history.Complete();
  history.Begin(third);
  f.out.Print(Sink::kInfo, "progress");
  EXPECT_EQ(f.ExitCodeOf([&] { f.runtime.FatalError("Unable to write new software"); }), 1);
  f.runtime.PrintLastLine("not printed twice\r\n");
  f.out.FinishConsole();
  EXPECT_EQ(f.Console(),
            "progress\r\nSummary:\r\n"
            "   7  KT5 Transmitter  v6.08r12 -> v6.10r57  update files sent\r\n"
            "   4  KT3 Transmitter  v6.10r00 -> v6.10r57  updated\r\n"
            "   9  KT5 Transmitter  v6.08r12 -> ?  failed\r\n"
            "Fatal Error: Unable to write new software\r\n"
            "not printed twice\r\n");
}

}  // namespace
}  // namespace kel
