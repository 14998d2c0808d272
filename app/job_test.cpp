#include "app/job.h"

#include <gtest/gtest.h>

#include "runtime/parameter_file.h"
#include "tests/connect_fixture.h"
#include "tests/platform_test_support.h"

namespace kel {
namespace {

TEST(RunJob, JobsOutsideThisBuildAreRefusedBeforeThePortSearch) {
  ConnectFixture f;
  f.Serve(3, kLoneKt5);
  TemporaryFolder folder;
  f.options.parameterFile = folder.File("job.ini");
  ASSERT_TRUE(WriteTextFile(f.options.parameterFile, "KelManufacture=1\r\nProgram=1\r\n"));
  f.options.manufacturingMode = true;
  const uint32_t start = f.clock.Ticks();
  EXPECT_EQ(f.ExitCodeOf([&] { RunJob(f.runtime, f.ports, ""); }), 2);
  EXPECT_NE(f.Console().find("Fatal Error: Function not available in this build: manufacturing"),
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

}  // namespace
}  // namespace kel
