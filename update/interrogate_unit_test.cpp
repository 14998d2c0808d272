#include "update/interrogate_unit.h"

#include <gtest/gtest.h>

#include "tests/connect_fixture.h"
#include "unit/rpc_identification.h"
#include "unit/unit_connection.h"
#include "unit/unit_probe.h"

namespace kel {
namespace {

void Interrogate(ConnectFixture& f, const std::string& scenario) {
  f.Serve(3, scenario);
  ASSERT_NO_FATAL_FAILURE(f.Connect());
  ReadExtendedInfo(f.link, f.unit);
  f.console.ClearOutput();
  InterrogateUnit(f.link, f.unit);
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(InterrogateUnit, ReportsTheUnitAndEveryUnitBehindIt) {
  ConnectFixture f;
  Interrogate(f, kKt3WithTwoRemotes);
  const std::string out = f.Console();
  const size_t own = out.find("-- selected flash programmer for KT3 LPC1768 C4");
  const size_t list = out.find("Ponderix Unit(s) found: 7 9\r\n");
  const size_t left = out.find("Ponderix Unit: 7\r\n");
  const size_t right = out.find("Ponderix Unit: 9\r\n");
  ASSERT_NE(own, std::string::npos);
  ASSERT_NE(list, std::string::npos);
  ASSERT_NE(left, std::string::npos);
  ASSERT_NE(right, std::string::npos);
  EXPECT_LT(own, list);
  EXPECT_LT(list, left);
  EXPECT_LT(left, right);
  EXPECT_EQ(Count(out, "-- selected flash programmer for KT5 LPC4337"), 2u);
  // Nothing was restarted.
  EXPECT_EQ(out.find("RPC: Reset"), std::string::npos);
  EXPECT_EQ(out.find("GotoBootLoader"), std::string::npos);
}

// A card tester's test software needs a programmer of its own; the report
// shows the board and every unit after it.
TEST(InterrogateUnit, ACardTesterOnTheNetworkIsReportedAndTheNextUnitToo) {
  ConnectFixture f;
  std::string scenario = kKt3WithTwoRemotes;
  scenario.insert(scenario.find("info = Left silo"), "flags = 0x80\n");
  Interrogate(f, scenario);
  const std::string out = f.Console();
  const size_t tester = out.find("- card tester software\r\n");
  ASSERT_NE(tester, std::string::npos) << out;
  EXPECT_NE(out.find("-- needs flash programmer for TESTER\r\n"), std::string::npos);
  EXPECT_NE(out.find("Ponderix Unit: 9\r\n", tester), std::string::npos) << out;
  EXPECT_EQ(out.find("Fatal Error"), std::string::npos) << out;
}

TEST(InterrogateUnit, ASilentRemoteUnitIsLeftOutWithoutAMessage) {
  ConnectFixture f;
  Interrogate(f,
              std::string(kKt3WithTwoRemotes) + "[port]\nfault = drop-request unit=left times=0\n");
  const std::string out = f.Console();
  const size_t left = out.find("Ponderix Unit: 7\r\n");
  const size_t right = out.find("Ponderix Unit: 9\r\n");
  ASSERT_NE(left, std::string::npos);
  ASSERT_NE(right, std::string::npos);
  // Between the two lines only the failed call's own trace.
  EXPECT_EQ(out.find("selected flash programmer", left),
            out.find("selected flash programmer", right));
  EXPECT_EQ(out.find("Fatal Error"), std::string::npos);
}

TEST(InterrogateUnit, OlderSoftwareIsReportedFromItsBootLoaderAndRestarted) {
  ConnectFixture f;
  Interrogate(f, R"(
[unit kt3]
place = connected
card = 648
circuit = 3
software = 5.90r10
boot-loader = 4r18
modbus = 4
address = 4
)");
  const std::string out = f.Console();
  const size_t line = out.find("Ponderix Unit: 4\r\n");
  const size_t restart = out.find("InitialiseForUpdate: Rebooting unit\r\n");
  const size_t programmer = out.find("-- selected flash programmer for KT3 LPC1768 LARGE C4\r\n");
  const size_t reset = out.find("RPC: Reset\r\nCOMPLETE\r\n");
  ASSERT_NE(line, std::string::npos);
  ASSERT_NE(restart, std::string::npos);
  ASSERT_NE(programmer, std::string::npos) << out;
  ASSERT_NE(reset, std::string::npos);
  EXPECT_LT(line, restart);
  EXPECT_LT(restart, programmer);
  EXPECT_LT(programmer, reset);
  EXPECT_EQ(out.find("Ponderix Unit(s) found"), std::string::npos);
}

TEST(InterrogateUnit, AUnitThatNeverReachesItsBootLoaderEndsTheRun) {
  ConnectFixture f;
  sim::SimNetwork& network = f.Serve(3, std::string(kLoneKt5) + "software = 5.90r10\n");
  ASSERT_NO_FATAL_FAILURE(f.Connect());
  network.SetUnplugged(true);
  EXPECT_EQ(f.ExitCodeOf([&] { InterrogateUnit(f.link, f.unit); }), 1);
  EXPECT_NE(f.Console().find("Fatal Error: Unable to initialise Ponderix unit"), std::string::npos);
}

TEST(InterrogateUnit, AUnitFoundInItsBootLoaderIsReportedWithItsProgrammer) {
  ConnectFixture f;
  Interrogate(f, R"(
[unit kt3]
place = connected
role = boot-loader
card = 648
circuit = 6
boot-loader = 4r18
buffer-size = 1024
)");
  const std::string out = f.Console();
  EXPECT_NE(out.find("Ponderix Unit: 1\r\n"), std::string::npos);
  EXPECT_NE(out.find("-- selected flash programmer for KT3 LPC4078 LARGE C4\r\n"),
            std::string::npos);
  EXPECT_NE(out.find("RPC: Reset\r\nCOMPLETE\r\n"), std::string::npos);
}

TEST(InterrogateUnit, AVirtualComPortUnitWithoutAdvancedInfoPrintsNothingMore) {
  ConnectFixture f;
  Interrogate(f, R"(
[unit kd4]
place = connected
card = 653
software = 6.10r57
modbus = 2
address = 2
vcom = yes
[port]
fault = drop-request command=0x1014 times=0
)");
  const std::string out = f.Console();
  EXPECT_NE(out.find("COMPLETE: Result=1\r\n"), std::string::npos);
  EXPECT_EQ(out.find("Ponderix Unit: "), std::string::npos);
  EXPECT_EQ(out.find("InitialiseForUpdate"), std::string::npos);
}

}  // namespace
}  // namespace kel
