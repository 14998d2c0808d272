#include "app/job.h"

#include <gtest/gtest.h>

#include "tests/connect_fixture.h"

namespace kel {
namespace {

TEST(RunJob, JobsOutsideThisBuildEndTheRunInsteadOfPassingSilently) {
  for (bool extract : {false, true}) {
    ConnectFixture f;
    f.Serve(3, kLoneKt5);
    f.options.portNumber = 3;
    f.options.extractLogs = extract;
    EXPECT_EQ(f.ExitCodeOf([&] { RunJob(f.runtime, f.ports); }), 1);
    EXPECT_NE(f.Console().find(
                  extract ? "Fatal Error: Function not available in this build: log extraction"
                          : "Fatal Error: Function not available in this build: update"),
              std::string::npos);
    // The unit was reached first.
    EXPECT_NE(f.Console().find("COM3 opened\r\n"), std::string::npos);
  }
}

TEST(RunJob, InterrogationClosesThePortWhenDone) {
  ConnectFixture f;
  f.Serve(3, kLoneKt5);
  f.options.portNumber = 3;
  f.options.interrogate = true;
  RunJob(f.runtime, f.ports);
  EXPECT_NE(f.Console().find("-- interrogating unit\r\n"), std::string::npos);
  EXPECT_NE(f.Console().find("Silo 5"), std::string::npos);
  EXPECT_FALSE(f.ports.Line(3)->isOpen);
}

}  // namespace
}  // namespace kel
