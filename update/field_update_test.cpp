#include "update/field_update.h"

#include <gtest/gtest.h>

#include "tests/update_fixture.h"

namespace kel {
namespace {

// A system that does not take the restart is not reported as restarted,
// nor the run as a success: the operator learns that the update waits for
// the next restart.
TEST(FieldUpdate, ARestartThatFailsLeavesTheUpdateForTheNextRestart) {
  UpdateFixture f;
  f.Start(
      "[unit kt5]\ncard = 659\nsoftware = 6.08r12\nmodbus = 5\nboot-loader = 4r18\n"
      "[port]\nfault = drop-request command=0x1018 times=0\n");
  ASSERT_EQ(f.Run([&] { FieldUpdateUnit(f.session, f.unit, true, false); }), -1) << f.Console();
  EXPECT_TRUE(f.Has("Ponderix Unit: 5 updated\r\n"));
  EXPECT_TRUE(f.Has("Software update will be applied the next time Ponderix is restarted\r\n"));
  EXPECT_TRUE(f.Has("The restart of the Ponderix units was not confirmed\r\n"));
  EXPECT_TRUE(f.Has("Complete: the restart was not confirmed\r\n"));
  EXPECT_FALSE(f.Has("Success"));
  EXPECT_EQ(f.runtime.endExitCode, 3);
}

}  // namespace
}  // namespace kel
