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

// A unit that cannot be updated leaves the run undone: exit code 3 with
// the closing line as its reason, not a success.
TEST(FieldUpdate, AUnitNotUpdatedEndsTheRunIncomplete) {
  UpdateFixture f;
  f.Start(
      "[unit kt5]\ncard = 659\nsoftware = 6.08r12\nmodbus = 5\nboot-loader = 4r18\n"
      "[unit old]\nplace = network\ncard = 648\nsoftware = 5.90r00\nmodbus = 7\n");
  ASSERT_EQ(f.Run([&] { FieldUpdateUnit(f.session, f.unit, true, false); }), -1) << f.Console();
  EXPECT_TRUE(f.Has("Ponderix Unit: 5 updated\r\n"));
  EXPECT_TRUE(f.Has("Unable to update Ponderix Unit: 7\r\n"));
  EXPECT_TRUE(f.Has("Complete: some units could not be updated\r\n"));
  EXPECT_EQ(f.runtime.endExitCode, Runtime::kExitIncomplete);
  EXPECT_EQ(f.runtime.endReason, "Complete: some units could not be updated\r\n");
}

// Units that took nothing to apply at a restart do not wait for one: a
// restart that is not confirmed then leaves nothing undone.
TEST(FieldUpdate, AnUnconfirmedRestartOfUnitsUpToDateIsNoFailure) {
  UpdateFixture f;
  f.Start("[unit kt5]\ncard = 659\nsoftware = 6.08r12\nmodbus = 5\nboot-loader = 4r18\n");
  ASSERT_EQ(f.Run([&] { FieldUpdateUnit(f.session, f.unit, true, false); }), -1) << f.Console();
  ASSERT_TRUE(f.Has("Success: all operations are complete\r\n")) << f.Console();
  // Once restarted into the new software, the unit is found again and the
  // run is made again with its restart request lost.
  f.clock.Sleep(5000);
  f.port.ClosePort();
  f.unit = UnitInfo();
  f.Connect(3);
  ReadExtendedInfo(f.link, f.unit);
  ReadAdvancedInfo(f.link, f.unit);
  f.session.unitsAwaitingRestart = 0;
  sim::FaultRule lost;
  std::string error;
  ASSERT_TRUE(sim::ParseFaultRule("drop-request command=0x1018 times=0", lost, error)) << error;
  f.network->faults().Add(lost);
  f.console.ClearOutput();
  ASSERT_EQ(f.Run([&] { FieldUpdateUnit(f.session, f.unit, true, false); }), -1) << f.Console();
  EXPECT_FALSE(f.Has("Sending software update")) << f.Console();
  EXPECT_TRUE(f.Has("The restart of the Ponderix units was not confirmed\r\n"));
  EXPECT_FALSE(f.Has("Software update will be applied the next time"));
  EXPECT_TRUE(f.Has("Success: all operations are complete\r\n"));
  EXPECT_EQ(f.runtime.endExitCode, 0);
}

}  // namespace
}  // namespace kel
