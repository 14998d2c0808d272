#include "app/job.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/parameter_file.h"
#include "tests/connect_fixture.h"
#include "tests/platform_test_support.h"
#include "tests/update_units.h"

namespace kel {
namespace {

TEST(RunJob, ABadlyNamedProductionJobIsRefusedBeforeThePortSearch) {
  ConnectFixture f;
  f.Serve(3, kLoneKt5);
  TemporaryFolder folder;
  f.options.parameterFile = folder.File("job.ini");
  ASSERT_TRUE(WriteTextFile(f.options.parameterFile,
                            "KelManufacture=1\r\nProgram=1\r\nUnitType=Scale\r\nMcuType=5\r\n"));
  f.options.manufacturingMode = true;
  const uint32_t start = f.clock.Ticks();
  EXPECT_EQ(f.ExitCodeOf([&] { RunJob(f.runtime, f.ports, ""); }), 2);
  EXPECT_NE(f.Console().find("Fatal Error: Parameter file key UnitType=Scale is not valid"),
            std::string::npos);
  // No port was searched or opened, and no power cycle waited for.
  EXPECT_EQ(f.Console().find("COM3"), std::string::npos);
  EXPECT_EQ(f.clock.Ticks(), start);
}

TEST(RunJob, InterrogationClosesThePortWhenDone) {
  ConnectFixture f;
  f.Serve(3, kLoneKt5);
  f.options.portNumber = 3;
  f.options.interrogate = true;
  RunJob(f.runtime, f.ports, "");
  EXPECT_NE(f.Console().find("-- interrogating unit\r\n"), std::string::npos);
  EXPECT_NE(f.Console().find("Silo 5"), std::string::npos);
  EXPECT_FALSE(f.ports.Line(3)->isOpen);
}

// One job runs, chosen in a fixed order: a production job, then -i, then
// -x, then the update; the jobs after the chosen one leave no trace.
TEST(RunJob, RunsOnlyTheJobThatComesFirst) {
  struct Case {
    const char* flags;  // i: -i, x: -x, f: -f
    const char* job;    // parameter file, or null
    std::vector<const char*> seen, notSeen;
  };
  const Case cases[] = {
      {"ix", nullptr, {"-- interrogating unit\r\n"}, {"Checking for crash log", "FieldUpdateUnit"}},
      {"xf",
       nullptr,
       {"Checking for configuration log...\r\n"},
       {"-- interrogating unit", "FieldUpdateUnit", "InitialiseForUpdate"}},
      {"ix",
       "KelManufacture=1\r\n",
       {"Silo 5", "-- nothing to do\r\n"},
       {"ManufacturingUpdateUnit", "-- interrogating unit", "Checking for crash",
        "FieldUpdateUnit"}},
  };
  for (const Case& c : cases) {
    const std::string flags = c.flags;
    SCOPED_TRACE(flags + (c.job != nullptr ? " with a production job without Program" : ""));
    ConnectFixture f;
    f.Serve(3, kLoneKt5);
    TemporaryFolder folder;
    f.options.portNumber = 3;
    f.options.interrogate = flags.find('i') != std::string::npos;
    f.options.extractLogs = flags.find('x') != std::string::npos;
    f.options.firstUnitOnly = flags.find('f') != std::string::npos;
    if (c.job != nullptr) {
      f.options.parameterFile = folder.File("job.ini");
      ASSERT_TRUE(WriteTextFile(f.options.parameterFile, c.job));
      f.options.manufacturingMode = true;
    }
    RunJob(f.runtime, f.ports, folder.File("logs"));
    const std::string out = f.Console();
    for (const char* text : c.seen) EXPECT_NE(out.find(text), std::string::npos) << text << out;
    for (const char* text : c.notSeen) EXPECT_EQ(out.find(text), std::string::npos) << text;
  }
}

// Every job that touches units ends with one summary line per unit, just
// before the run's last line when it has one.
TEST(RunJob, EveryJobThatTouchesUnitsEndsWithTheSummary) {
  struct Case {
    const char* flags;  // i: -i, x: -x, f: -f, p: a production job without Program
    const char* line;
    const char* last;  // the run's last line, or empty when the job has none
  };
  const Case cases[] = {
      {"i", "   5  KT5 Transmitter  v6.10r57  interrogated\r\n", ""},
      {"x", "   5  KT5 Transmitter  v6.10r57  logs saved 0\r\n", ""},
      {"p", "   5  KT5 Transmitter  v6.10r57  interrogated\r\n", "-- nothing to do\r\n"},
      {"f", "   4  KT3 Transmitter  v5.90r00 -> v6.10r57  updated\r\n",
       "Success: all operations are complete\r\n"},
  };
  for (const Case& c : cases) {
    const std::string flags = c.flags;
    SCOPED_TRACE(flags);
    ConnectFixture f;
    f.Serve(3, flags == "f" ? kOldKt3 : kLoneKt5);
    TemporaryFolder folder;
    f.options.portNumber = 3;
    f.options.interrogate = flags == "i";
    f.options.extractLogs = flags == "x";
    f.options.firstUnitOnly = flags == "f";
    if (flags == "p") {
      f.options.parameterFile = folder.File("job.ini");
      ASSERT_TRUE(WriteTextFile(f.options.parameterFile, "KelManufacture=1\r\n"));
      f.options.manufacturingMode = true;
    }
    EXPECT_EQ(f.ExitCodeOf([&] { RunJob(f.runtime, f.ports, folder.File("logs")); }), -1);
    const std::string out = f.Console();
    const std::string ending = std::string("Summary:\r\n") + c.line + c.last;
    ASSERT_GE(out.size(), ending.size()) << out;
    EXPECT_EQ(out.substr(out.size() - ending.size()), ending) << out;
  }
}

}  // namespace
}  // namespace kel
