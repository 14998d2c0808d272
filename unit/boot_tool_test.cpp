#include "unit/boot_tool.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "platform/process.h"
#include "tests/boot_tool_stand_in.h"
#include "tests/platform_test_support.h"
#include "tests/runtime_fixture.h"

namespace kel {
namespace {

using Parts = std::vector<std::string>;

TEST(BootToolCommandLine, SplitsAtSpacesAndKeepsQuotedPartsWhole) {
  EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\bin\\KelBoot.exe\" COM3 -l   -s"),
            (Parts{"C:\\Program Files\\bin\\KelBoot.exe", "COM3", "-l", "-s"}));
  EXPECT_EQ(SplitCommandLine("tool \"-gC:\\My Temp\\a.tmp;mcu=5\" -y"),
            (Parts{"tool", "-gC:\\My Temp\\a.tmp;mcu=5", "-y"}));
  EXPECT_EQ(SplitCommandLine("tool \"unterminated part"), (Parts{"tool", "unterminated part"}));
  EXPECT_TRUE(SplitCommandLine("   ").empty());

  std::string many = "tool";
  for (int i = 0; i < 30; ++i) many += " a" + std::to_string(i);
  const Parts parts = SplitCommandLine(many);
  ASSERT_EQ(parts.size(), 20u);  // the program and 19 arguments
  EXPECT_EQ(parts.back(), "a18");
  EXPECT_EQ(SplitCommandLine(std::string(300, 'p'))[0].size(), 255u);
}

TEST(BootToolCommandLine, PassesTheRunsDebugAndSilentSwitchesOn) {
  RuntimeFixture f;
  f.options.debug = f.options.detailedDebug = f.options.silent = true;
  EXPECT_EQ(BootToolCommandLine(f.runtime, "/t/KelBoot.exe", "COM3 -l -s"),
            "\"/t/KelBoot.exe\" COM3 -l -s -dd -y -s");
  f.options.detailedDebug = f.options.silent = false;
  EXPECT_EQ(BootToolCommandLine(f.runtime, "k", "x"), "\"k\" x -d -y");
  f.options.debug = false;
  EXPECT_EQ(BootToolCommandLine(f.runtime, "k", "x"), "\"k\" x -y");
}

TEST(BootToolProgrammerRequest, DescribesTheUnitInOneQuotedArgument) {
  UnitInfo unit;
  unit.mcuType = mcuLPC1768;
  unit.bootLoaderVersion = 4;
  unit.bootFlags = 0x82;
  unit.unitFlags = 0x0B;
  unit.cardNumber = 648;
  unit.bufferSize = 1024;
  EXPECT_EQ(ProgrammerRequestArgument(unit, "T/KelUdpater0000ABCD.tmp"),
            "\"-gT/KelUdpater0000ABCD.tmp;mcu=5,bootversion=4,bootflags=82,unitflags=0B,"
            "cardnumber=0288,buffersize=1024\"");
}

TEST(BootToolExchangeFile, LivesInTheUsersTempFolder) {
  RuntimeFixture f;
  f.env.Set("TEMP", "C:\\Temp");
  EXPECT_EQ(BootToolTempFolder(f.runtime), std::string("C:\\Temp") + PathSeparator());
  f.env.Set("TEMP", "C:\\Temp\\");
  EXPECT_EQ(BootToolTempFolder(f.runtime), "C:\\Temp\\");
  f.env.Unset("TEMP");
#if !defined(_WIN32)
  EXPECT_EQ(BootToolTempFolder(f.runtime), "/tmp");
  f.env.Set("TMPDIR", "/home/op/tmp");
  EXPECT_EQ(BootToolTempFolder(f.runtime), "/home/op/tmp");
#endif
}

TEST(BootToolExchangeFile, IsNewPrivateAndNotGuessable) {
  TemporaryFolder folder;
  RuntimeFixture f;
  f.env.Set("TEMP", folder.path());
  const std::string first = CreateBootToolExchangeFile(f.runtime);
  const std::string second = CreateBootToolExchangeFile(f.runtime);
  EXPECT_NE(first, second);
  for (const std::string& path : {first, second}) {
    const std::filesystem::path file(path);
    EXPECT_EQ(file.parent_path(), std::filesystem::path(folder.path()));
    EXPECT_EQ(file.filename().string().rfind("KelUdpater", 0), 0u);
    EXPECT_EQ(file.extension(), ".tmp");
    EXPECT_EQ(std::filesystem::file_size(file), 0u);
#if !defined(_WIN32)
    EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
    RemoveBootToolExchangeFile(path);
    EXPECT_FALSE(std::filesystem::exists(file));
  }
  f.env.Set("TEMP", folder.File("missing"));
  EXPECT_EQ(f.ExitCodeOf([&] { CreateBootToolExchangeFile(f.runtime); }), 1);
  EXPECT_NE(f.console.output().find("Fatal Error: Cannot create a file for KelBoot in " +
                                    folder.File("missing")),
            std::string::npos);
}

TEST(FindBootTool, UsesTheConfiguredPathOrTheHomeFolder) {
  TemporaryFolder folder;
  RuntimeFixture f;
  f.options.parameterFile = folder.File("job.ini");
  ASSERT_TRUE(WriteTextFile(f.options.parameterFile, "KelBootEXE=/no/such/KelBoot.exe\r\n"));
  // A configured tool is taken as it is, even when it does not exist.
  EXPECT_EQ(FindBootTool(f.runtime), "/no/such/KelBoot.exe");

  ASSERT_TRUE(WriteTextFile(f.options.parameterFile, "PonderixHomeDir=" + folder.path() + "\r\n"));
  const std::string bin = folder.File("bin");
  EXPECT_EQ(f.ExitCodeOf([&] { FindBootTool(f.runtime); }), 2);
  EXPECT_NE(f.console.output().find("Fatal Error: Cannot find KelBoot in " + bin),
            std::string::npos);

  std::filesystem::create_directories(bin);
  const std::string tool = bin + PathSeparator() + "KelBoot.exe";
  ASSERT_TRUE(WriteTextFile(tool, ""));
  EXPECT_EQ(FindBootTool(f.runtime), tool);
  // The environment's home folder comes before the parameter file's.
  f.env.Set("PONDERIXPATH", folder.File("elsewhere"));
  EXPECT_EQ(f.ExitCodeOf([&] { FindBootTool(f.runtime); }), 2);
}

// A home folder written with backslashes is continued with them on every
// platform, the fallback folder among them.
TEST(FindBootTool, AWindowsHomeFolderIsNotMixedWithOtherSeparators) {
  const struct {
    const char* home;
    const char* bin;
  } cases[] = {{"", "F:\\EPROM\\Ponderix\\Current\\bin"}, {"C:\\Tools", "C:\\Tools\\bin"}};
  for (const auto& c : cases) {
    RuntimeFixture f;
    if (*c.home != '\0') f.env.Set("PONDERIXPATH", c.home);
    EXPECT_EQ(f.ExitCodeOf([&] { FindBootTool(f.runtime); }), 1);
    EXPECT_NE(f.console.output().find(std::string("Fatal Error: Cannot find KelBoot in ") + c.bin +
                                      "\r\n"),
              std::string::npos)
        << f.console.output();
  }
}

// Whatever the tool exits with is its own failure: a Windows tool's -1 or
// -2 is neither "could not start" nor a stop. The test program plays the
// tool (the child modes of the process tests: "exit:N").
TEST(RunBootTool, EveryExitCodeOfTheToolIsItsOwn) {
  SetProcessEnvironment("KEL_PLATFORM_TEST_CHILD", "exit:-2");
  RuntimeFixture f;
  f.options.yesToPrompts = true;
  const int code = f.ExitCodeOf([&] { RunBootTool(f.runtime, ExecutablePath(), "COM3"); });
  SetProcessEnvironment("KEL_PLATFORM_TEST_CHILD", nullptr);
#if defined(_WIN32)
  const int expected = -2;
#else
  const int expected = 254;  // the low eight bits
#endif
  EXPECT_EQ(code, expected);
  f.out.FinishConsole();
  EXPECT_NE(f.Console().find("KelBoot returned an error: " + std::to_string(expected) + "\r\n"),
            std::string::npos)
      << f.Console();
  EXPECT_EQ(f.Console().find("cannot run"), std::string::npos);
  EXPECT_EQ(f.Console().find("stopped"), std::string::npos);
}

#if !defined(_WIN32)

TEST(RunBootTool, TheToolsFailureBecomesTheExitCode) {
  TemporaryFolder folder;
  const std::string tool = InstallTool(folder, "echo \"$@\" > \"$(dirname \"$0\")/args\"; exit 3");
  RuntimeFixture f;
  f.options.yesToPrompts = true;
  EXPECT_EQ(f.ExitCodeOf([&] { RunBootTool(f.runtime, tool, "COM3 -l -s"); }), 3);
  f.out.FinishConsole();
  EXPECT_NE(f.console.output().find("KelBoot returned an error: 3\r\n"), std::string::npos);
  EXPECT_EQ(ReadTextFile(folder.File("bin") + "/args"), "COM3 -l -s -y\n");

  const std::string ok = InstallTool(folder, "exit 0");
  RunBootTool(f.runtime, ok, "COM3");  // returns
  EXPECT_EQ(f.ExitCodeOf([&] { RunBootTool(f.runtime, folder.File("missing"), "COM3"); }), 1);
  EXPECT_NE(f.console.output().find("Fatal Error: FAILURE - cannot run KelBoot: \"" +
                                    folder.File("missing") + "\" COM3 -y"),
            std::string::npos);
}

#endif

}  // namespace
}  // namespace kel
