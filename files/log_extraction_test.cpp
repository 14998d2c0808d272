#include "files/log_extraction.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "link/comm_port.h"
#include "platform/files.h"
#include "tests/files_fixture.h"
#include "tests/platform_test_support.h"
#include "unit/rpc_identification.h"

namespace kel {
namespace {

// A KT5 at Modbus address 5 with debug logs, a KR3 at 3, a test jig at 7
// and a KT5 at 9 whose software keeps no logs yet.
constexpr char kConnected[] =
    "card = 659\nsoftware = 6.10r57\nmodbus = 5\naddress = 5\nserial = 4711\nproduct = 12\n"
    "info = Middle\ndebug-logs = 0x200 0x201 0x202\n";
constexpr char kNetwork[] = R"(
[unit left]
place = network
card = 649
software = 6.10r57
modbus = 3
serial = 33
info = Left
[unit jig]
place = network
card = 652
software = 6.10r57
modbus = 7
info = Jig
[unit old]
place = network
card = 659
software = 6.00r01
modbus = 9
info = Old
)";

struct ExtractFixture : FilesFixture {
  ExtractFixture() {
    Start(kConnected, kNetwork);
    ReadExtendedInfo(link, unit);
  }
  void Put(const char* name, uint16_t file, const std::string& text) {
    network.Find(name)->files.Put(1, file, std::vector<uint8_t>(text.begin(), text.end()));
  }
  std::string Saved(const std::string& name) { return ReadTextFile(folder.File(name)); }
  bool Has(const std::string& text) { return Console().find(text) != std::string::npos; }

  TemporaryFolder home;
  TemporaryFolder& folder = home;
  std::string output = home.File("PonderixLogFiles");
};

TEST(ExtractLogs, ListsTheUnitsInAddressOrderAndCopiesTheirLogs) {
  ExtractFixture f;
  // Each 128-byte block loses its trailing zero bytes.
  const std::string block1 = std::string(100, 'A') + std::string(28, '\0');
  f.Put("u", kConfigurationLogFile, block1 + "BB" + std::string(5, '\0'));
  f.Put("u", 0x200, "first");
  f.Put("u", 0x202, "third");
  f.Put("left", kCrashLogFile, "crash!");
  const int32_t speed = f.port.settings().baudRate;
  f.options.debug = false;  // the table without the calls between its rows
  ExtractLogs(f.files, f.unit, f.output);

  EXPECT_TRUE(
      f.Has("Ponderix Unit(s) found:\r\nAddress  Information\r\n      3  Left\r\n"
            "      5  Middle\r\n      9  Old\r\n\r\n"))
      << f.Console();
  EXPECT_FALSE(f.Has("      7  "));
  const std::string dir = f.output + "/";
  EXPECT_EQ(ReadTextFile(dir + "ConfigurationLog_05 PX12 KT5 4711.txt"),
            std::string(100, 'A') + "BB");
  EXPECT_EQ(ReadTextFile(dir + "DebugLog_05 PX12 KT5 4711.txt"), "first\r\n\r\nthird\r\n");
  EXPECT_EQ(ReadTextFile(dir + "CrashLog_03 PX0 KR3 33.txt"), "crash!");
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(f.output)) ++count;
  EXPECT_EQ(count, 3u);  // nothing from the jig or the unit at 6.00, no companions left
  EXPECT_TRUE(f.Has("-- no crash log found\r\n"));
  EXPECT_TRUE(f.Has("-- no configuration log found\r\n"));
  EXPECT_TRUE(f.Has("Uploading files:  0200 0201 0202\r\n"));
  // The line names the file as the program built its path, with the
  // platform's own separator.
  EXPECT_TRUE(
      f.Has("Saving to \"" + f.output + PathSeparator() + "CrashLog_03 PX0 KR3 33.txt\"\r\n"));
  // Back at the speed it had, where the unit answers.
  EXPECT_EQ(f.port.settings().baudRate, speed);
  EXPECT_TRUE(Ping(f.link, 5));
}

TEST(ExtractLogs, AUnitThatDoesNotAnswerStopsTheJobAtTheLinksOwnSpeed) {
  ExtractFixture f;
  f.Put("u", kConfigurationLogFile, "config");
  f.Fault("drop-request unit=left times=0");
  const int32_t speed = f.port.settings().baudRate;
  ExtractLogs(f.files, f.unit, f.output);
  EXPECT_FALSE(f.Has("Checking for")) << f.Console();
  EXPECT_TRUE(f.Has("Ponderix Unit 3 does not answer: no logs were copied\r\n")) << f.Console();
  EXPECT_TRUE(f.Has("Incomplete: some logs could not be saved\r\n"));
  EXPECT_EQ(f.runtime.endExitCode, Runtime::kExitIncomplete);
  EXPECT_FALSE(std::filesystem::exists(f.output));
  EXPECT_EQ(f.port.settings().baudRate, speed);
  EXPECT_TRUE(Ping(f.link, 5));
}

// A log that does not come whole (the unit stops answering its reads part
// way, or does not answer the open at all) never replaces the copy saved
// before; the console says which, the job goes on with the next log and
// ends incomplete.
TEST(ExtractLogs, ALogNotReadWholeNeverReplacesTheSavedCopy) {
  struct Case {
    const char* fault;
    std::vector<std::string> said;
  };
  const std::string config = "ConfigurationLog_05 PX12 KT5 4711.txt";
  const std::string debug = "DebugLog_05 PX12 KT5 4711.txt";
  const Case cases[] = {
      {"drop-request service=0x47 unit=u at=5 times=0",
       {"Cannot save " + config + ": the unit did not send the whole log\r\n"}},
      {"drop-request unit=u command=0x1026 times=0",
       {"-- the configuration log could not be read\r\n", "-- the crash log could not be read\r\n",
        "-- debug log 0200 could not be read\r\n",
        "Cannot save " + debug + ": the unit did not send the whole log\r\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    ExtractFixture f;
    f.Put("u", kConfigurationLogFile, std::string(2000, 'C'));
    f.Put("u", 0x200, "first");
    f.Put("left", kCrashLogFile, "crash!");
    ASSERT_TRUE(std::filesystem::create_directories(f.output));
    const std::string dir = f.output + PathSeparator();
    ASSERT_TRUE(WriteTextFile(dir + config, "saved before"));
    ASSERT_TRUE(WriteTextFile(dir + debug, "debug before"));
    f.Fault(c.fault);
    ExtractLogs(f.files, f.unit, f.output);
    for (const std::string& line : c.said) {
      const std::string named =
          line.rfind("Cannot save ", 0) == 0 ? "Cannot save " + dir + line.substr(12) : line;
      EXPECT_TRUE(f.Has(named)) << named << f.Console();
    }
    EXPECT_EQ(ReadTextFile(dir + config), "saved before");
    EXPECT_EQ(ReadTextFile(dir + "CrashLog_03 PX0 KR3 33.txt"), "crash!");
    EXPECT_TRUE(f.Has("Incomplete: some logs could not be saved\r\n"));
    EXPECT_EQ(f.runtime.endExitCode, Runtime::kExitIncomplete);
  }
}

// A unit that keeps answering full blocks: the copy stops at the flash size
// of the unit's MCU (512 KiB for the KR3's LPC1768) with a line that says
// so, keeps what it saved, and the job goes on with the next file.
TEST(ExtractLogs, ACopyStopsAtTheUnitsFlashSize) {
  ExtractFixture f;
  const size_t flash = 512 * 1024;
  f.Put("left", kCrashLogFile, std::string(flash + 256, 'L'));
  f.Put("left", kConfigurationLogFile, std::string(flash, 'C'));  // as long as it can be
  f.Put("u", 0x200, "first");
  ExtractLogs(f.files, f.unit, f.output);
  const std::string dir = f.output + "/";
  EXPECT_EQ(ReadTextFile(dir + "CrashLog_03 PX0 KR3 33.txt"), std::string(flash, 'L'));
  EXPECT_EQ(ReadTextFile(dir + "ConfigurationLog_03 PX0 KR3 33.txt").size(), flash);
  const std::string stopped =
      "-- copy stopped at 524288 bytes: the unit sends more than its flash holds\r\n";
  ASSERT_NE(f.Console().find(stopped), std::string::npos) << f.Console().substr(0, 3000);
  EXPECT_EQ(f.Console().find(stopped), f.Console().rfind(stopped));
  EXPECT_EQ(ReadTextFile(dir + "DebugLog_05 PX12 KT5 4711.txt"), "first\r\n\r\n\r\n");
  EXPECT_EQ(f.runtime.endExitCode, Runtime::kExitIncomplete);  // a cut log is not whole
}

}  // namespace
}  // namespace kel
