// The put-back of the connected unit on the way out of a run, against the
// simulator in process (a pseudo-terminal carries no parity, so the end to
// end tests cannot show a unit at even parity).
#include "unit/speed_scope.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/runtime.h"
#include "tests/connect_fixture.h"
#include "unit/link_speed.h"
#include "unit/speed_note.h"

namespace kel {
namespace {

// A KD4 found at 19200 baud with even parity and moved without parity (to
// 115200, or to 115200 and back to 19200 as -x and the field update do) is
// put back at both, and so is the link. The speed request cannot give it
// parity: it is restarted into its own settings.
TEST(SpeedScope, AUnitFoundAtEvenParityIsPutBackAtItsSpeedAndParity) {
  const std::vector<std::vector<int32_t>> moves = {{115200}, {115200, 19200}};
  for (const std::vector<int32_t>& speeds : moves) {
    SCOPED_TRACE(speeds.size());
    ConnectFixture f;
    sim::SimNetwork& network =
        f.Serve(3,
                "[unit kd4]\nplace = connected\ncard = 653\nsoftware = 6.10r57\nmodbus = 10\n"
                "parity = even\n");
    f.options.initialBaudGiven = true;  // -b19200 -p1: the search looks at even parity
    f.options.evenParity = true;
    f.state.savedBaudRate = 19200;  // as main saves the connection from the options
    f.state.savedEvenParity = true;
    f.Connect(3);
    ASSERT_TRUE(f.port.settings().evenParity);
    SpeedScope scope(f.link, f.unit);
    for (const int32_t speed : speeds) ASSERT_TRUE(SetUnitSpeed(f.link, f.unit, speed));
    ASSERT_EQ(network.connected()->baudRate, speeds.back());
    ASSERT_FALSE(network.connected()->evenParity);
    f.runtime.restoreLink();  // as every way out of the run does
    EXPECT_EQ(network.connected()->baudRate, 19200);
    EXPECT_TRUE(network.connected()->evenParity);
    EXPECT_EQ(f.port.settings().baudRate, 19200);
    EXPECT_TRUE(f.port.settings().evenParity);
    EXPECT_EQ(f.Console().find("could not be put back"), std::string::npos) << f.Console();
    EXPECT_EQ(f.runtime.endExitCode, 0);
  }
}

// A unit that cannot be reached to be put back leaves the orderly end
// incomplete: it warns and the run exits with 3, not 0.
TEST(SpeedScope, AnOrderlyEndThatCannotPutTheUnitBackIsIncomplete) {
  ConnectFixture f;
  sim::SimNetwork& network =
      f.Serve(3,
              "[unit kd4]\nplace = connected\ncard = 653\nsoftware = 6.10r57\nmodbus = 10\n"
              "baud = 19200\n");
  f.Connect(3);
  SpeedScope scope(f.link, f.unit);
  ASSERT_TRUE(SetUnitSpeed(f.link, f.unit, 115200));
  network.SetUnplugged(true);
  f.runtime.restoreLink();
  EXPECT_NE(f.Console().find("could not be put back to 19200 baud"), std::string::npos)
      << f.Console();
  EXPECT_EQ(f.runtime.endExitCode, Runtime::kExitIncomplete);
}

// An earlier run's note is followed only for the unit where that run left
// it, which is without parity: a unit found at the noted speed with even
// parity has been set so since and stays, and the note goes.
TEST(SpeedScope, ANoteIsNotFollowedForAUnitFoundWithParity) {
  ConnectFixture f;
  sim::SimNetwork& network =
      f.Serve(3,
              "[unit kd4]\nplace = connected\ncard = 653\nsoftware = 6.10r57\nmodbus = 10\n"
              "baud = 115200\nparity = even\n");
  f.options.initialBaudGiven = true;  // -b115200 -p1
  f.options.initialBaudRate = 115200;
  f.options.evenParity = true;
  f.state.savedBaudRate = 115200;
  f.state.savedEvenParity = true;
  f.Connect(3);
  ASSERT_TRUE(f.port.settings().evenParity);
  SpeedNote note(f.registry, 3);
  note.Write(f.unit, FoundSpeed{19200, false, {115200}});
  {
    SpeedScope scope(f.link, f.unit);
    f.runtime.restoreLink();
  }
  EXPECT_EQ(network.connected()->baudRate, 115200);
  EXPECT_TRUE(network.connected()->evenParity);
  EXPECT_EQ(f.Console().find("putting it back"), std::string::npos) << f.Console();
  EXPECT_FALSE(note.Read(f.unit).has_value());
}

// A change whose answer was lost, then a fall-back: the unit may be at
// either speed. The note names both, and a later run that finds the unit at
// the first one still puts it back where it was found.
TEST(SpeedScope, AUnitAtAnySpeedAnEarlierRunSentItToIsPutBack) {
  ConnectFixture f;
  sim::SimNetwork& network =
      f.Serve(3,
              "[unit kd4]\nplace = connected\ncard = 653\nsoftware = 6.10r57\nmodbus = 10\n"
              "baud = 9600\n");
  f.Connect(3);
  SpeedNote note(f.registry, 3);
  note.Write(f.unit, FoundSpeed{19200, false, {9600, 115200}});
  ASSERT_EQ(SpeedNote::Format(f.unit, *note.Read(f.unit)), "19200 9600,115200 N 10 653 0");
  {
    SpeedScope scope(f.link, f.unit);
    f.runtime.restoreLink();
  }
  EXPECT_EQ(network.connected()->baudRate, 19200);
  EXPECT_NE(f.Console().find("-- the unit was left at 9600 baud by an earlier run: putting it "
                             "back to 19200 baud"),
            std::string::npos)
      << f.Console();
  EXPECT_FALSE(note.Read(f.unit).has_value());
  // Only the program's own layout is taken: a repeated or the found speed
  // among the away ones, an empty list or a speed no unit takes is none.
  for (const char* text : {"19200 9600,9600 N 10 653 0", "19200 19200 N 10 653 0",
                           "19200  N 10 653 0", "19200 9601 N 10 653 0", "19200 9600, N 10 653 0"}) {
    EXPECT_FALSE(SpeedNote::Parse(text, f.unit).has_value()) << text;
  }
}

}  // namespace
}  // namespace kel
