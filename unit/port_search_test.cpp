#include "unit/port_search.h"

#include <gtest/gtest.h>

#include "runtime/registry_settings.h"
#include "tests/connect_fixture.h"

namespace kel {
namespace {

TEST(PortList, EntriesAreSeparatedByOneSpaceCommaOrSemicolon) {
  EXPECT_EQ(ParsePortList("COM3,COM5;7"), (std::vector<int>{3, 5, 7}));
  EXPECT_EQ(ParsePortList("com12"), (std::vector<int>{12}));
  EXPECT_EQ(ParsePortList("3, 5"), (std::vector<int>{3, 5}));
  // After "COM3," the entry " COM5" starts with a space: its prefix is not
  // recognised and it reads as 0, which ends the list.
  EXPECT_EQ(ParsePortList("COM3, COM5"), (std::vector<int>{3}));
  EXPECT_TRUE(ParsePortList("x3").empty());
  EXPECT_TRUE(ParsePortList("").empty());
  EXPECT_TRUE(ParsePortList("COM").empty());
  // A number that is no port number ends the list like any other text.
  EXPECT_EQ(ParsePortList("5,99999999999,7"), (std::vector<int>{5}));
  EXPECT_EQ(ParsePortList("32767;-3"), (std::vector<int>{32767}));
}

TEST(PortList, EntriesMayNameDevices) {
  const auto number = [](const std::string& device) { return device == "/dev/ttyUSB0" ? 8 : 9; };
  EXPECT_EQ(ParsePortList("/dev/ttyUSB0,COM5; /dev/ttyACM1 4", number),
            (std::vector<int>{8, 5, 9, 4}));
  // A Windows port's device name is its COM name.
  EXPECT_EQ(ParsePortList("\\\\.\\COM3,\\\\.\\com12"), (std::vector<int>{3, 12}));
  // Without a way to number devices a path reads as no number.
  EXPECT_TRUE(ParsePortList("/dev/ttyUSB0,COM5").empty());
}

// Where the system lists its ports, the scan tries those in order and no
// other, leaves Bluetooth ports out, and names each port's device.
TEST(PortSearch, TheScanTriesTheListedPortsWithoutBluetooth) {
  ConnectFixture f;
  f.ports.hasListing = true;
  f.ports.listing = {{6, "/dev/ttyUSB0", "FTDI", false},
                     {2, "\\\\.\\COM2", "Bluetooth link", true},
                     {4, "/dev/ttyACM0", "", false}};
  f.ports.AddLine(6);
  f.Serve(2, kLoneKt5);
  f.Serve(4, kLoneKt5);
  f.Serve(5, kLoneKt5);
  EXPECT_TRUE(SearchAllPorts(f.link, f.unit));
  EXPECT_EQ(f.options.portNumber, 4);
  const std::string out = f.Console();
  EXPECT_LT(out.find("COM6 (/dev/ttyUSB0) opened\r\n"), out.find("COM4 (/dev/ttyACM0) opened\r\n"));
  EXPECT_EQ(out.find("COM2"), std::string::npos);
  EXPECT_EQ(f.registry.ReadString(kCommPortRegistryPath), "4");
}

// A port named by its device, on the command line or in the port list,
// opens as the number the system gives it, a Bluetooth one too.
TEST(PortSearch, APortNamedByItsDeviceIsOpenedByItsNumber) {
  for (bool inList : {false, true}) {
    ConnectFixture f;
    f.ports.hasListing = true;
    f.ports.listing = {{3, "/dev/rfcomm0", "", true}};
    f.Serve(3, kLoneKt5);
    if (inList) {
      f.env.Set("PONDERIXPORTLIST", "/dev/rfcomm0");
    } else {
      f.options.portDevice = "/dev/rfcomm0";
    }
    ConnectUnit(f.link, f.unit);
    EXPECT_EQ(f.options.portNumber, 3);
    EXPECT_EQ(f.unit.connectionMode, modeApplication);
    EXPECT_NE(f.Console().find("COM3 (/dev/rfcomm0) opened\r\n"), std::string::npos);
  }
}

// A port named by its device that cannot be opened is named by that
// device too: the user never typed the COM number it was given.
TEST(PortSearch, APortNamedByItsDeviceIsNamedSoWhenItCannotBeOpened) {
  for (bool inList : {false, true}) {
    ConnectFixture f;
    if (inList) {
      f.env.Set("PONDERIXPORTLIST", "/dev/ttyUSB9");
      EXPECT_FALSE(SearchEnvironmentPorts(f.link, f.unit));
    } else {
      f.options.portDevice = "/dev/ttyUSB9";
      ConnectUnit(f.link, f.unit);
    }
    EXPECT_NE(f.Console().find("COM1 (/dev/ttyUSB9) is not present on this computer\r\n"),
              std::string::npos)
        << f.Console();
  }
}

TEST(PortSearch, EnvironmentListIsTriedInOrderAndIgnoresThePortVariable) {
  ConnectFixture f;
  f.Serve(5, kLoneKt5);
  f.Serve(7, kLoneKt5);
  f.ports.AddLine(3);
  f.env.Set("PONDERIXPORTLIST", "COM3,COM5;7");
  f.env.Set("PONDERIXPORT", "7");
  ConnectUnit(f.link, f.unit);
  EXPECT_EQ(f.options.portNumber, 5);
  EXPECT_TRUE(f.port.isOpen());
  EXPECT_EQ(f.unit.connectionMode, modeApplication);
  EXPECT_EQ(f.unit.unitAddress, 5);
  EXPECT_EQ(f.options.unitId, 5);
  const std::string out = f.Console();
  EXPECT_NE(out.find("   PONDERIXPORTLIST: COM3,COM5;7\r\n"), std::string::npos);
  EXPECT_EQ(out.find("PONDERIXPORT    :"), std::string::npos);
  // COM3 opened but held no unit; COM7 was never tried.
  EXPECT_LT(out.find("COM3 opened\r\n"), out.find("COM5 opened\r\n"));
  EXPECT_EQ(out.find("COM7 opened"), std::string::npos);
  // Only the full scan remembers its port.
  EXPECT_EQ(f.registry.ReadString(kCommPortRegistryPath), "");
}

TEST(PortSearch, MissingEnvironmentPortsAreNamedAndTheScanFollows) {
  ConnectFixture f;
  f.options.debug = false;
  f.Serve(7, kLoneKt5);
  f.env.Set("PONDERIXPORT", "4");
  ConnectUnit(f.link, f.unit);
  const std::string out = f.Console();
  EXPECT_NE(out.find("COM4 is not present on this computer\r\n"), std::string::npos);
  // The scan passes over missing ports silently.
  EXPECT_EQ(out.find("COM6 is not present"), std::string::npos);
  EXPECT_EQ(f.options.portNumber, 7);
  EXPECT_EQ(f.registry.ReadString(kCommPortRegistryPath), "7");
}

TEST(PortSearch, TheRememberedPortIsTriedFirstOnTheNextRun) {
  ConnectFixture f;
  f.Serve(2, kLoneKt5);
  f.Serve(9, kLoneKt5);
  WriteRegistryString(f.registry, kCommPortRegistryPath, "9");
  EXPECT_TRUE(SearchAllPorts(f.link, f.unit));
  EXPECT_EQ(f.options.portNumber, 9);
  const std::string out = f.Console();
  EXPECT_NE(out.find("COM9 loaded from registry\r\n"), std::string::npos);
  EXPECT_EQ(out.find("COM2 opened"), std::string::npos);
}

TEST(PortSearch, ABusyPortIsReportedAndPassedOver) {
  ConnectFixture f;
  f.Serve(4, kLoneKt5);
  f.ports.AddLine(2).busyUntil = f.clock.Ticks() + 100000000;
  f.ports.AddLine(3).maxBaudRate = 9600;
  EXPECT_TRUE(SearchAllPorts(f.link, f.unit));
  const std::string out = f.Console();
  EXPECT_NE(out.find("COM2 is being used by another application\r\n"), std::string::npos);
  EXPECT_NE(out.find("COM3 does not support requested baud rate\r\n"), std::string::npos);
  EXPECT_EQ(f.options.portNumber, 4);
}

TEST(PortSearch, WithNoUnitAnywhereTheOperatorTypesThePort) {
  ConnectFixture f;
  f.console.AddKeys("12\r");
  f.options.yesToPrompts = false;
  ConnectUnit(f.link, f.unit);
  const std::string out = f.Console();
  EXPECT_NE(
      out.find("-- cannot find a Ponderix unit\r\nPlease enter COM port number (1,2,3...): 12"),
      std::string::npos);
  EXPECT_NE(out.find("-- COM12 entered by user\r\n"), std::string::npos);
  EXPECT_NE(out.find("COM12 is not present on this computer\r\n"), std::string::npos);
  EXPECT_FALSE(f.port.isOpen());
  // The operator's port is opened at the starting speed, not a probe speed.
  EXPECT_EQ(f.options.initialBaudRate, 19200);
}

// A run that may not ask has nobody to type a port: it ends at once.
TEST(PortSearch, WithNoUnitAnywhereAnUnattendedRunEndsWithoutAsking) {
  for (bool manufacturing : {false, true}) {
    SCOPED_TRACE(manufacturing);
    ConnectFixture f;
    f.options.yesToPrompts = !manufacturing;
    f.options.manufacturingMode = manufacturing;
    f.console.AddKeys("12\r");
    EXPECT_EQ(f.ExitCodeOf([&] { ConnectUnit(f.link, f.unit); }), 1);
    const std::string out = f.Console();
    EXPECT_NE(
        out.find("-- cannot find a Ponderix unit\r\nFatal Error: Unable to connect to Ponderix "
                 "unit\r\n"),
        std::string::npos)
        << out;
    EXPECT_EQ(out.find("Please enter COM port number"), std::string::npos);
  }
}

TEST(PortSearch, AGivenPortThatCannotBeOpenedEndsTheRunWithItsReason) {
  struct Case {
    SerialOpenOutcome outcome;
    uint32_t busyFor;
    int32_t maxBaudRate;
    std::string fatal;
  };
  const Case cases[] = {
      {SerialOpenOutcome::kOpened, 100000000, 0, "COM3 is being used by another application"},
      {SerialOpenOutcome::kOpened, 0, 9600, "COM3 does not support requested baud rate"},
      {SerialOpenOutcome::kOther, 0, 0, "COM3 ERROR:Error: Input/output error"},
      // Said at once with the system's words, the device and how to get access.
      {SerialOpenOutcome::kPermissionDenied, 0, 0,
       "COM3 cannot be opened: Permission denied (memory line 3). To use it, add the user to the "
       "group that owns it (for example: sudo usermod -aG dialout $USER) and log in again"},
  };
  for (const Case& c : cases) {
    ConnectFixture f;
    f.options.portNumber = 3;
    MemorySerialLine& line = f.ports.AddLine(3);
    line.busyUntil = c.busyFor == 0 ? 0 : f.clock.Ticks() + c.busyFor;
    line.maxBaudRate = c.maxBaudRate;
    line.openFailure = c.outcome;
    line.openFailureText =
        c.outcome == SerialOpenOutcome::kOther ? "Input/output error" : "Permission denied";
    EXPECT_EQ(f.ExitCodeOf([&] { ConnectUnit(f.link, f.unit); }), 1) << c.fatal;
    EXPECT_NE(f.Console().find("Fatal Error: " + c.fatal + "\r\n"), std::string::npos)
        << f.Console();
  }
}

TEST(PortSearch, PortsTheUserMayNotOpenAreNamedWithOneHint) {
  ConnectFixture f;
  f.options.debug = false;
  for (int port : {2, 3}) {
    MemorySerialLine& line = f.ports.AddLine(port);
    line.openFailure = SerialOpenOutcome::kPermissionDenied;
    line.openFailureText = "Permission denied";
  }
  f.Serve(4, kLoneKt5);
  const uint32_t start = f.clock.Ticks();
  EXPECT_TRUE(SearchAllPorts(f.link, f.unit));
  const std::string out = f.Console();
  EXPECT_NE(out.find("COM2 cannot be opened: Permission denied (memory line 2)\r\nTo use it, add "
                     "the user to the group that owns it"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("COM3 cannot be opened: Permission denied (memory line 3)\r\nCOM4 opened"),
            std::string::npos)
      << out;
  EXPECT_LT(f.clock.Ticks() - start, 5000u);  // no busy-port retries
}

// A slow adapter is said once, for the unit's port only.
TEST(PortSearch, ASlowAdapterOnTheUnitsPortIsSaidOnce) {
  ConnectFixture f;
  f.ports.AddLine(2);
  f.Serve(4, kLoneKt5);
  f.ports.latencyTimers = {{2, 16}, {4, 16}};
  ConnectUnit(f.link, f.unit);
  const std::string out = f.Console();
  const std::string note = "-- COM4: the USB adapter holds received bytes for 16 ms";
  EXPECT_NE(out.find(note), std::string::npos) << out;
  EXPECT_EQ(out.find(note), out.rfind(note));
  EXPECT_EQ(out.find("COM2: the USB adapter"), std::string::npos);
}

// The environment's list and the full scan meet the same refused port: it
// is named once, with the hint once, for the whole connection.
TEST(PortSearch, ARefusedPortInBothSearchesIsNamedOnce) {
  ConnectFixture f;
  f.options.debug = false;
  MemorySerialLine& line = f.ports.AddLine(3);
  line.openFailure = SerialOpenOutcome::kPermissionDenied;
  line.openFailureText = "Permission denied";
  line.openFailureStays = true;
  f.Serve(4, kLoneKt5);
  f.env.Set("PONDERIXPORTLIST", "3");
  ConnectUnit(f.link, f.unit);
  const std::string out = f.Console();
  const std::string named = "COM3 cannot be opened";
  const size_t first = out.find(named);
  ASSERT_NE(first, std::string::npos) << out;
  EXPECT_EQ(out.find(named, first + 1), std::string::npos) << out;
  const size_t hint = out.find("To use it");
  ASSERT_NE(hint, std::string::npos);
  EXPECT_EQ(out.find("To use it", hint + 1), std::string::npos) << out;
  EXPECT_EQ(f.options.portNumber, 4);
}

// A speed or a port number that cannot be one is named and ends the run,
// rather than sending the search to a port or speed that cannot be.
TEST(PortSearch, AValueThatIsNoSpeedOrPortEndsTheRunByName) {
  const struct {
    const char* baud;
    const char* typed;
    const char* fatal;
  } cases[] = {
      {"abc", "", "Not a baud rate: PONDERIXBAUDRATE=abc"},
      {"0", "", "Not a baud rate: PONDERIXBAUDRATE=0"},
      {"-1", "", "Not a baud rate: PONDERIXBAUDRATE=-1"},
      {"", "99999\r", "Not a port number: 99999"},
  };
  for (const auto& c : cases) {
    ConnectFixture f;
    f.options.yesToPrompts = false;
    if (*c.baud != '\0') f.env.Set("PONDERIXBAUDRATE", c.baud);
    f.console.AddKeys(c.typed);
    EXPECT_EQ(f.ExitCodeOf([&] { ConnectUnit(f.link, f.unit); }), 1) << c.fatal;
    EXPECT_NE(f.Console().find(std::string("Fatal Error: ") + c.fatal + "\r\n"), std::string::npos)
        << f.Console();
    EXPECT_EQ(f.Console().find("does not support requested baud rate"), std::string::npos);
  }
}

TEST(PortSearch, BaudRateFromTheEnvironmentSetsTheProgrammingSpeed) {
  ConnectFixture f;
  f.options.portNumber = 3;
  f.env.Set("PONDERIXBAUDRATE", "38400");
  f.env.Set("PONDERIXLOCKDIR", "/nonexistent-lock-folder");
  ConnectUnit(f.link, f.unit);
  EXPECT_TRUE(f.options.initialBaudGiven);
  EXPECT_EQ(f.options.programmingBaudRate, 115200);
  const std::string out = f.Console();
  EXPECT_NE(out.find("   PONDERIXLOCKDIR : /nonexistent-lock-folder\r\n"), std::string::npos);
  EXPECT_NE(out.find("   PONDERIXBAUDRATE: 38400\r\n"), std::string::npos);
  EXPECT_NE(out.find("-- programmer baud rate = 115200\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kel
