#include "unit/unit_probe.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/connect_fixture.h"
#include "unit/programmer_note.h"

namespace kel {
namespace {

// A line on which nothing answers; it notes the speed of every write.
class SilentLine : public MemorySerialPeer {
 public:
  explicit SilentLine(MemorySerialLine& line) : line_(line) { line.AttachPeer(this); }
  ~SilentLine() override { line_.AttachPeer(nullptr); }
  void OnHostBytes(const uint8_t*, size_t, const SerialConfig& config, uint32_t) override {
    speeds.push_back(config.baudRate);
  }
  std::vector<int32_t> speeds;

 private:
  MemorySerialLine& line_;
};

TEST(CheckUnitId, ProbesInOrderAndSearchesTwiceOverTheFiveSpeeds) {
  ConnectFixture f;
  SilentLine silent(f.ports.AddLine(3));
  ASSERT_TRUE(f.Open(3));
  EXPECT_FALSE(CheckUnitId(f.link, f.unit));
  // "?" at 115200, the boot loader at 9600 and 115200, ten pings, then a
  // flash programmer left running, twice at the programming speed (115200).
  const std::vector<int32_t> expected = {115200, 9600,  115200, 19200,  9600,  115200, 57600,
                                         38400,  19200, 9600,   115200, 57600, 38400, 115200, 115200};
  EXPECT_EQ(silent.speeds, expected);
  const std::string out = f.Console();
  EXPECT_NE(out.find("[NO DATA]\r\n"), std::string::npos);
  EXPECT_NE(out.find("Searching for unit ID...\r\nUnit ID=F0\r\n"), std::string::npos);
  EXPECT_NE(out.find("-- unable to find unit\r\n"), std::string::npos);
  EXPECT_EQ(f.unit.connectionMode, modeUnknown);
  EXPECT_EQ(f.out.chipProbeCounter, 0);
}

// A programmer an earlier run left running answers none of the usual
// probes; found last, at the speed the port's note names, it is the noted unit.
TEST(CheckUnitId, FindsAProgrammerLeftRunningAsTheNotedUnit) {
  ConnectFixture f;
  sim::SimNetwork& network = f.Serve(3, std::string(kLoneKt5) + "role = boot-loader\n");
  network.connected()->role = sim::SimRole::kProgrammer;
  network.connected()->autoBaud = false;
  network.connected()->baudRate = 460800;
  NotedProgrammer note;
  note.unit.cardNumber = 659;
  note.unit.serialNumber = 77;
  note.unit.mcuType = mcuLPC4337;
  note.unit.unitType = unitTypeTransmitter;
  note.baudRate = 460800;
  ProgrammerNote(f.registry, 3).Write(note);
  ASSERT_TRUE(f.Open(3));
  ASSERT_TRUE(CheckUnitId(f.link, f.unit));
  EXPECT_EQ(f.unit.connectionMode, modeFlashProgrammer);
  EXPECT_EQ(f.unit.unitAddress, 1);
  EXPECT_EQ(f.unit.serialNumber, 77);
  EXPECT_EQ(f.unit.unitType, unitTypeTransmitter);
  EXPECT_EQ(f.state.savedBaudRate, 460800);
  EXPECT_NE(f.Console().find("-- found unit (flash programmer)\r\n"), std::string::npos);
}

TEST(CheckUnitId, FindsAUnitAtAnyOfTheSearchSpeedsAndTakesItsModbusAddress) {
  ConnectFixture f;
  f.Serve(3, std::string(kLoneKt5) + "baud = 38400\n");
  ASSERT_TRUE(f.Open(3));
  ASSERT_TRUE(CheckUnitId(f.link, f.unit));
  EXPECT_EQ(f.unit.connectionMode, modeApplication);
  EXPECT_EQ(f.unit.unitAddress, 5);
  EXPECT_EQ(f.options.unitId, 5);
  EXPECT_EQ(f.state.savedBaudRate, 38400);
  EXPECT_NE(f.Console().find("-- found unit ($F0)\r\n"), std::string::npos);
}

TEST(CheckUnitId, AGivenIdFindsARunningBootLoaderInTheFirstRound) {
  ConnectFixture f;
  f.Serve(3, std::string(kLoneKt5) + "role = boot-loader\n");
  f.options.unitIdGiven = true;
  f.options.unitId = 5;
  ASSERT_TRUE(f.Open(3));
  ASSERT_TRUE(CheckUnitId(f.link, f.unit));
  EXPECT_EQ(f.unit.connectionMode, modePonderixBootLoader);
  EXPECT_EQ(f.unit.unitAddress, 1);
  EXPECT_EQ(f.options.unitId, 1);
  EXPECT_EQ(f.state.savedBaudRate, 9600);
  const std::string out = f.Console();
  EXPECT_NE(out.find("Checking Unit ID...\r\n"), std::string::npos);
  EXPECT_NE(out.find("-- found unit (ponderix boot loader)\r\n"), std::string::npos);
  // Found before any other probe.
  EXPECT_EQ(out.find("Checking for LPC chip"), std::string::npos);
}

TEST(CheckUnitId, AGivenIdIsPingedAtTheStartingSpeed) {
  ConnectFixture f;
  f.Serve(3, kLoneKt5);
  f.options.unitIdGiven = true;
  f.options.unitId = 5;
  ASSERT_TRUE(f.Open(3));
  ASSERT_TRUE(CheckUnitId(f.link, f.unit));
  EXPECT_EQ(f.unit.connectionMode, modeApplication);
  EXPECT_EQ(f.unit.unitAddress, 5);
  EXPECT_NE(f.Console().find("RPC: Ping address $05\r\nCOMPLETE\r\n"), std::string::npos);
  EXPECT_NE(f.Console().find("-- found unit ID = 05\r\n"), std::string::npos);
}

TEST(CheckUnitId, AGivenSpeedIsTriedWithAPingAtF0) {
  ConnectFixture f;
  f.Serve(3, std::string(kLoneKt5) + "baud = 57600\n");
  f.options.initialBaudRate = 57600;
  f.options.initialBaudGiven = true;
  ASSERT_TRUE(f.Open(3));
  f.state.savedBaudRate = 57600;
  ASSERT_TRUE(CheckUnitId(f.link, f.unit));
  EXPECT_EQ(f.unit.unitAddress, 5);
  EXPECT_NE(f.Console().find("RPC: Ping address $F0 at specified baud rate\r\nCOMPLETE\r\n"),
            std::string::npos);
  EXPECT_EQ(f.Console().find("Searching for unit ID"), std::string::npos);
}

// A production job synchronises with a blank chip's ROM loader, which the
// boot tool then takes over. Any other run refuses the chip, so it leaves
// the handshake unfinished: a synchronised loader would not answer the
// next run's "?" before a power cycle, and this one is found again at once.
TEST(CheckUnitId, ABlankChipAnswersTheRomHandshake) {
  for (bool manufacturing : {true, false}) {
    SCOPED_TRACE(manufacturing);
    ConnectFixture f;
    f.options.manufacturingMode = manufacturing;
    sim::SimNetwork& network = f.Serve(3, std::string(kLoneKt5) + "role = blank-chip\n");
    ASSERT_TRUE(f.Open(3));
    ASSERT_TRUE(CheckUnitId(f.link, f.unit));
    EXPECT_EQ(f.unit.connectionMode, modeChipIsp);
    EXPECT_NE(f.Console().find("-- LPC chip firmware found\r\n"), std::string::npos);
    EXPECT_EQ(f.Console().find("-- synchronization succeeded\r\n") != std::string::npos,
              manufacturing);
    EXPECT_EQ(network.connected()->ispSynchronized, manufacturing);
    EXPECT_EQ(f.out.chipProbeCounter, 0);
    if (!manufacturing) {
      f.console.ClearOutput();
      ASSERT_TRUE(CheckUnitId(f.link, f.unit));
      EXPECT_NE(f.Console().find("-- LPC chip firmware found\r\n"), std::string::npos);
    }
  }
}

TEST(CheckUnitId, EscapeDuringTheSearchAborts) {
  ConnectFixture f;
  SilentLine silent(f.ports.AddLine(3));
  ASSERT_TRUE(f.Open(3));
  f.console.AddKeys("\x1b");
  EXPECT_EQ(f.ExitCodeOf([&] { CheckUnitId(f.link, f.unit); }), 1);
  EXPECT_NE(f.Console().find("Fatal Error: Aborted"), std::string::npos);

  // Any other key is read and the search goes on.
  ConnectFixture g;
  SilentLine quiet(g.ports.AddLine(3));
  ASSERT_TRUE(g.Open(3));
  g.console.AddKeys("x");
  EXPECT_FALSE(CheckUnitId(g.link, g.unit));
}

TEST(CheckUnitId, APortThatCannotTakeAProbeSpeedEndsTheRun) {
  ConnectFixture f;
  f.ports.AddLine(3).maxBaudRate = 19200;
  ASSERT_TRUE(f.Open(3));
  EXPECT_EQ(f.ExitCodeOf([&] { CheckUnitId(f.link, f.unit); }), 1);
  EXPECT_NE(f.Console().find("Fatal Error: Unable to change baudrate"), std::string::npos);
}

}  // namespace
}  // namespace kel
