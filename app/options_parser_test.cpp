#include "app/options_parser.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

// Parses with POSIX rules unless told otherwise; fails the test on a parse
// failure so each case reads as the options it yields.
Options Parse(std::vector<std::string> args, bool slash = false) {
  Options options;
  EXPECT_TRUE(ParseCommandLine(args, slash, options));
  return options;
}

bool Fails(std::vector<std::string> args, bool slash = false) {
  Options options;
  return !ParseCommandLine(args, slash, options);
}

// The words a refused value is reported with; empty when it was accepted.
std::string Refusal(std::vector<std::string> args) {
  Options options;
  std::string reason;
  return ParseCommandLine(args, false, options, &reason) ? std::string() : reason;
}

TEST(OptionsParser, FlagsClusterAndIgnoreCase) {
  Options o = Parse({"-iY", "+vs", "-WLFO", "-x"});
  EXPECT_TRUE(o.interrogate && o.yesToPrompts && o.verify && o.silent);
  EXPECT_TRUE(o.writeAlways && o.updateBootLoader && o.firstUnitOnly && o.overlapped);
  EXPECT_TRUE(o.extractLogs);
  EXPECT_FALSE(o.debug);

  Options none = Parse({});
  EXPECT_FALSE(none.interrogate || none.yesToPrompts || none.debug);
  EXPECT_EQ(none.initialBaudRate, 19200);
  EXPECT_EQ(none.portNumber, 0);
  EXPECT_TRUE(none.parameterFile.empty());
}

TEST(OptionsParser, DoubleDConsumesBothLetters) {
  Options ddy = Parse({"-ddy"});
  EXPECT_TRUE(ddy.debug && ddy.detailedDebug && ddy.yesToPrompts);

  Options dy = Parse({"-dy"});
  EXPECT_TRUE(dy.debug && dy.yesToPrompts);
  EXPECT_FALSE(dy.detailedDebug);

  Options mixed = Parse({"-dD"});
  EXPECT_TRUE(mixed.detailedDebug);

  // Three d's: the first two make -dd, the third is a plain -d again.
  Options ddd = Parse({"-ddd"});
  EXPECT_TRUE(ddd.debug && ddd.detailedDebug);
}

TEST(OptionsParser, ValueLettersTakeRestOrNextArgument) {
  Options attached = Parse({"-b38400"});
  EXPECT_EQ(attached.initialBaudRate, 38400);
  EXPECT_TRUE(attached.initialBaudGiven);

  Options separate = Parse({"-b", "38400", "5"});
  EXPECT_EQ(separate.initialBaudRate, 38400);
  EXPECT_EQ(separate.portNumber, 5);  // the value was skipped, 5 is the port

  // A value letter ends its cluster: "5i" is the whole value of -u.
  Options unit = Parse({"-u5i"});
  EXPECT_TRUE(unit.unitIdGiven);
  EXPECT_EQ(unit.unitId, 5);
  EXPECT_FALSE(unit.interrogate);

  // Letters before the value letter still count.
  Options before = Parse({"-yu", "30"});
  EXPECT_TRUE(before.yesToPrompts);
  EXPECT_EQ(before.unitId, 30);

  // The next argument is taken whole even when it looks like an option.
  EXPECT_EQ(Refusal({"-r", "-i"}), "Not a baud rate: -r -i");
}

TEST(OptionsParser, ProgrammingBaudDerivedFromInitialUnlessChosen) {
  EXPECT_EQ(Parse({"-b", "38400"}).programmingBaudRate, 115200);
  EXPECT_EQ(Parse({"-b", "230400"}).programmingBaudRate, 230400);
  EXPECT_EQ(Parse({"-r", "460800", "-b", "38400"}).programmingBaudRate, 460800);
  EXPECT_EQ(Parse({"-b", "38400", "-r", "460800"}).programmingBaudRate, 460800);
  EXPECT_EQ(Parse({"-r12345"}).programmingBaudRate, 12345);  // not checked
}

TEST(OptionsParser, ParityTakesOnlyZeroOrOne) {
  EXPECT_FALSE(Parse({"-p0"}).evenParity);
  EXPECT_TRUE(Parse({"-p", "1"}).evenParity);
  EXPECT_TRUE(Fails({"-p2"}));
  EXPECT_TRUE(Fails({"-p", ""}));
  EXPECT_TRUE(Fails({"-p01"}));
}

TEST(OptionsParser, FailuresAndTheFieldsAlreadySet) {
  EXPECT_TRUE(Fails({"-z"}));
  EXPECT_TRUE(Fails({"-iq"}));
  EXPECT_TRUE(Fails({"-b"}));
  EXPECT_TRUE(Fails({"-i", "-u"}));

  // The fatal path reads what was parsed before the bad argument.
  Options o;
  EXPECT_FALSE(ParseCommandLine({"cfg.ini", "-y", "-z", "-i"}, false, o));
  EXPECT_EQ(o.parameterFile, "cfg.ini");
  EXPECT_TRUE(o.yesToPrompts);
  EXPECT_FALSE(o.interrogate);
}

TEST(OptionsParser, PortArgumentsAndParameterFile) {
  EXPECT_EQ(Parse({"3"}).portNumber, 3);
  EXPECT_EQ(Parse({"com3"}).portNumber, 3);
  EXPECT_EQ(Parse({"COM12"}).portNumber, 12);
  EXPECT_EQ(Parse({"COMx"}).portNumber, 0);   // whatever the number reading gives
  EXPECT_EQ(Parse({"7", ""}).portNumber, 0);  // empty is all digits: port 0

  Options file = Parse({"cfg.ini"});
  EXPECT_EQ(file.parameterFile, "cfg.ini");
  EXPECT_EQ(file.portNumber, 0);

  EXPECT_EQ(Parse({"COM"}).parameterFile, "COM");  // three letters only
  EXPECT_EQ(Parse({"3x"}).parameterFile, "3x");

  Options later = Parse({"a.ini", "COM2", "b.ini", "4"});
  EXPECT_EQ(later.parameterFile, "b.ini");
  EXPECT_EQ(later.portNumber, 4);
}

// A character device, or any path in /dev, is a port named by its device,
// never a parameter file; a later port replaces it however it is named.
TEST(OptionsParser, DevicePathsArePortsOnPosix) {
  struct Case {
    const char* argument;
    const char* device;
    const char* file;
  } cases[] = {{"/dev/null", "/dev/null", ""},
               {"/dev/ttyUSB7", "/dev/ttyUSB7", ""},  // missing now: still a port
               {"/dev/shm/job.ini", "", "/dev/shm/job.ini"},
               {"/tmp/cfg.ini", "", "/tmp/cfg.ini"}};
  for (const Case& c : cases) {
    Options o = Parse({c.argument});
    EXPECT_EQ(o.portDevice, c.device) << c.argument;
    EXPECT_EQ(o.parameterFile, c.file) << c.argument;
    EXPECT_EQ(o.portNumber, 0);
  }
  Options later = Parse({"/dev/null", "COM4"});
  EXPECT_EQ(later.portNumber, 4);
  EXPECT_TRUE(later.portDevice.empty());
  EXPECT_EQ(Parse({"3", "/dev/null"}).portNumber, 0);
  EXPECT_EQ(Parse({"\\\\.\\COM12"}, true).portNumber, 12);
}

TEST(OptionsParser, LongOptions) {
  Options o = Parse({"--list-ports", "-i"});
  EXPECT_TRUE(o.listPorts && o.interrogate);
  EXPECT_TRUE(Parse({"--LIST-PORTS"}).listPorts);
  const Options more = Parse({"--help", "--Version", "--plan", "-f"});
  EXPECT_TRUE(more.help && more.version && more.plan && more.firstUnitOnly);
  // Single letters keep their meaning: -h and -v are no long options.
  EXPECT_TRUE(Fails({"-h"}));
  EXPECT_FALSE(Parse({"-v"}).version);
  EXPECT_TRUE(Fails({"--list"}));
  EXPECT_TRUE(Fails({"--"}));
}

// A value that is no speed, unit ID or port is refused by name, never
// wrapped or clamped into one.
TEST(OptionsParser, ValuesOutsideTheirRangeAreRefusedByName) {
  const struct {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{"-b", "abc"}, "Not a baud rate: -b abc"},
      {{"-b0"}, "Not a baud rate: -b 0"},
      {{"-r", "-1"}, "Not a baud rate: -r -1"},
      {{"-b", "99999999999999999999"}, "Not a baud rate: -b 99999999999999999999"},
      {{"-u", "300"}, "Not a unit ID (0 to 255): -u 300"},
      {{"-u-1"}, "Not a unit ID (0 to 255): -u -1"},
      {{"123456789012"}, "Not a port number: 123456789012"},
      {{"COM32768"}, "Not a port number: COM32768"},
      {{"COM-1"}, "Not a port number: COM-1"},
  };
  for (const auto& c : cases) EXPECT_EQ(Refusal(c.args), c.reason) << c.args[0];
  EXPECT_EQ(Parse({"32767"}).portNumber, 32767);
  EXPECT_EQ(Refusal({"-z"}), "");  // an unknown letter has only the usage text
}

TEST(OptionsParser, SlashIsAnOptionOnlyWhereAsked) {
  Options windows = Parse({"/iy"}, true);
  EXPECT_TRUE(windows.interrogate && windows.yesToPrompts);
  EXPECT_TRUE(windows.parameterFile.empty());

  Options posix = Parse({"/etc/kel/cfg.ini", "-i"}, false);
  EXPECT_EQ(posix.parameterFile, "/etc/kel/cfg.ini");
  EXPECT_TRUE(posix.interrogate);

  EXPECT_TRUE(Fails({"/etc/kel/cfg.ini"}, true));  // 'e' is no option letter
}

TEST(OptionsParser, ResetsLineSettingsBeforeReading) {
  Options o;
  o.initialBaudRate = 57600;
  o.evenParity = true;
  ASSERT_TRUE(ParseCommandLine({}, false, o));
  EXPECT_EQ(o.initialBaudRate, 19200);
  EXPECT_FALSE(o.evenParity);
}

}  // namespace
}  // namespace kel
