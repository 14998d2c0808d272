// State a scenario loads into a unit (flash from an image container or a
// fill, backup fields, files with their stored CRCs) and the dump written
// from a port: the two agree byte for byte.

#include <gtest/gtest.h>

#include <string>

#include "sim/scenario.h"
#include "sim/state_dump.h"
#include "tests/platform_test_support.h"
#include "tests/sim_flash_support.h"

namespace kel::sim {
namespace {

using testing::BuildRecordImage;
using testing::Pattern;

std::string Text(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(SimUnitState, PreloadedStateAndTheDumpAgreeByteForByte) {
  TemporaryFolder in;
  TemporaryFolder out;
  const std::vector<uint8_t> bankA = Pattern(8192, 1), bankB = Pattern(300, 2),
                             backup = Pattern(512, 3);
  std::vector<uint8_t> log = Pattern(100, 4);
  log.resize(128, 0);  // a log with trailing zero bytes
  ASSERT_TRUE(WriteTextFile(
      in.File("soft.bin"),
      Text(BuildRecordImage(0x1A004000, {{0x1A004000, bankA}, {0x1B000000, bankB}}))));
  ASSERT_TRUE(WriteTextFile(in.File("backup.bin"), Text(backup)));
  ASSERT_TRUE(WriteTextFile(in.File("log.bin"), Text(log)));
  const std::string text =
      "[unit kd4]\ncard = 653\nsoftware = 6.10r57\n"
      "flash = records soft.bin\nflash = fill 0x1A07F000 0x1A07F0FF 0\nbackup = raw backup.bin\n"
      "file-bin = 1 0x0200 log.bin crc\nfile-bin = 1 0x0131 log.bin crc=0x1234\n"
      "file-bin = 177 0 log.bin properties=0131AB\n";
  Scenario scenario;
  std::string error;
  ASSERT_TRUE(ParseScenario(text, scenario, error, in.path())) << error;
  SimNetwork network;
  BuildNetwork(scenario, network);
  ASSERT_TRUE(DumpNetwork(network, out.path(), error)) << error;

  const std::string a = ReadTextFile(out.File("kd4/flash-1A000000.bin"));
  ASSERT_EQ(a.size(), 0x80000u);
  EXPECT_EQ(a.substr(0x4000, 8192), Text(bankA));
  EXPECT_EQ(a.substr(0x7F000, 256), std::string(256, '\0'));
  EXPECT_EQ(a.substr(0x400, 512), Text(backup));
  EXPECT_EQ(a.substr(0, 0x400), std::string(0x400, '\xFF'));
  EXPECT_EQ(ReadTextFile(out.File("kd4/flash-1B000000.bin")).substr(0, 301), Text(bankB) + '\xFF');
  EXPECT_EQ(ReadTextFile(out.File("kd4/backup.bin")), Text(backup));
  EXPECT_EQ(ReadTextFile(out.File("kd4/drive-001/file-0200.bin")), Text(log));
  EXPECT_EQ(ReadTextFile(out.File("kd4/drive-001/file-0200.properties")),
            Text(CrcProperties(FileCrcNumber(log))));
  EXPECT_EQ(ReadTextFile(out.File("kd4/drive-001/file-0131.properties")), "\x01\x42\x12\x34");
  EXPECT_EQ(ReadTextFile(out.File("kd4/drive-177/file-0000.properties")), "\x01\x31\xAB");
  EXPECT_NE(ReadTextFile(out.File("kd4/unit.txt")).find("software = 6.10r57\n"), std::string::npos);

  // What a scenario cannot load is refused, naming the line.
  for (const auto& [bad, why] : std::vector<std::pair<std::string, std::string>>{
           {"flash = fill 0x90000 0x900FF 0", "line 3: bytes outside the MCU's flash"},
           {"file-bin = 1 2 missing.bin", "line 3: cannot read "},
           {"backup = raw soft.bin",
            "line 3: soft.bin is larger than the backup region (256 bytes)"},
           {"flash = raw 0x4000", "line 3: flash = raw needs an address and a path"}}) {
    EXPECT_FALSE(ParseScenario("[unit kt3]\ncard = 648\n" + bad + "\n", scenario, error, in.path()))
        << bad;
    EXPECT_EQ(error.substr(0, why.size()), why);
  }
}

// A unit moved to another speed and switched off and on is back in its
// software at its own speed once the restart is over; a dump taken after
// that moment shows it there, though nothing woke the units for it.
TEST(SimUnitState, TheDumpFinishesARestartWhoseTimeHasCome) {
  TemporaryFolder out;
  Scenario scenario;
  std::string error;
  ASSERT_TRUE(
      ParseScenario("[unit kd4]\nplace = connected\ncard = 653\nsoftware = 6.10r57\n"
                    "baud = 38400\nrestart-ms = 300\n",
                    scenario, error, out.path()))
      << error;
  SimNetwork network;
  BuildNetwork(scenario, network);
  network.PowerOn(1000);
  network.AllUnits().front()->baudRate = 115200;
  // Its boot loader comes up after 300 ms and listens for 300 ms more.
  network.PowerCycle(2000);
  ASSERT_TRUE(DumpNetworkAt(network, 2700, out.path(), error)) << error;
  const std::string dumped = ReadTextFile(out.File("kd4/unit.txt"));
  EXPECT_NE(dumped.find("role = application\n"), std::string::npos) << dumped;
  EXPECT_NE(dumped.find("baud = 38400\n"), std::string::npos) << dumped;
}

TEST(SimUnitState, UnitNamesBecomeSafeFolderNames) {
  EXPECT_EQ(SafeFolderName("kt5-left"), "kt5-left");
  EXPECT_EQ(SafeFolderName("../x"), "unit.._x");
  EXPECT_EQ(SafeFolderName("a/b\\c"), "a_b_c");
  EXPECT_EQ(SafeFolderName(""), "unit");
}

}  // namespace
}  // namespace kel::sim
