// End-to-end checks of the production line's runs on POSIX: the real
// program against the simulator on pseudo-terminals, driven by a parameter
// file, with the stand-in boot tool in the real tool's place.
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "images/embedded_blobs.h"
#include "tests/e2e_fixture.h"
#include "tests/platform_test_support.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

class ManufacturingRun : public ProgramRunFixture {
 protected:
  bool HaveTools() const {
#if defined(KEL_BOOT_STAND_IN_PATH)
    return HaveSimulator();
#else
    return false;
#endif
  }
  std::string ToolPath() const {
#if defined(KEL_BOOT_STAND_IN_PATH)
    return KEL_BOOT_STAND_IN_PATH;
#else
    return "";
#endif
  }
  std::string dumpDir() { return home.File("dump"); }
  std::string controlFile() { return home.File("control"); }
  std::string toolLog() { return home.File("tool.log"); }

  /// Serves `scenario` as COM1 with the control channel and the dump on.
  void Serve(const std::string& scenario) {
    simArguments = "--control " + Quoted(controlFile()) + " --dump " + Quoted(dumpDir());
    StartSim(scenario, 1);
  }
  /// A parameter file job.ini in the home folder: manufacturing mode, the
  /// stand-in as the boot tool, then `lines`.
  void WriteJob(const std::string& lines) {
    ASSERT_TRUE(WriteTextFile(home.File("job.ini"),
                              "KelManufacture=1\r\nKelBootEXE=" + ToolPath() + "\r\n" + lines));
  }
  /// The environment the stand-in reads, plus `extra`.
  std::string ToolEnvironment(const std::string& extra = "") {
    return "KELBOOT_STAND_IN_CONTROL=" + Quoted(controlFile()) +
           " KELBOOT_STAND_IN_LOG=" + Quoted(toolLog()) + " " + extra;
  }
  /// The simulator's record of `unit` after it ended (StopSim first).
  std::string UnitState(const std::string& unit) {
    return ReadTextFile(dumpDir() + "/com1/" + unit + "/unit.txt");
  }
  std::string Flash(const std::string& unit, const std::string& bank = "00000000") {
    return ReadTextFile(dumpDir() + "/com1/" + unit + "/flash-" + bank + ".bin");
  }
};

const char kBlankKt3[] =
    "[unit blank]\nplace = connected\nrole = blank-chip\ncard = 648\ncircuit = 5\n";

TEST_F(ManufacturingRun, ABlankChipIsProgrammedByTheBootToolOnlyInManufacturingMode) {
  if (!HaveTools()) GTEST_SKIP() << "no simulator or stand-in boot tool in this build";
  const EmbeddedBlob* boot = FindEmbeddedBlob("boot_kt3_lpc1768");
  ASSERT_NE(boot, nullptr);
  const std::string bootFile = home.File("boot.bin");
  ASSERT_TRUE(WriteTextFile(
      bootFile, std::string(reinterpret_cast<const char*>(boot->data()), boot->size())));
  Serve(kBlankKt3);

  // Outside manufacturing mode the chip is left alone.
  EXPECT_EQ(Run("-i -y 1", ToolEnvironment()), 1);
  EXPECT_TRUE(Has("Fatal Error: Cannot update this unit (blank mcu)\r\n")) << output;
  EXPECT_FALSE(fs::exists(toolLog()));

  // A chip whose ROM loader has synchronised once waits for commands, not
  // for a new handshake, until it is powered off: a fresh one.
  StopSim();
  Serve(kBlankKt3);
  WriteJob("");
  EXPECT_EQ(
      Run("-y -d job.ini 1", ToolEnvironment("KELBOOT_STAND_IN_BOOT_IMAGE=" + Quoted(bootFile))), 0)
      << output;
  EXPECT_TRUE(Has("-- programming blank chip with KelBoot\r\n")) << output;
  EXPECT_EQ(ReadTextFile(toolLog()), "COM1 -l -s -d -y\n");
  EXPECT_TRUE(Has("-- nothing to do\r\n")) << output;
  StopSim();
  const std::string state = UnitState("blank");
  EXPECT_NE(state.find("role = boot-loader"), std::string::npos) << state;
  EXPECT_NE(state.find("boot-loader = 4r24"), std::string::npos) << state;
  // The image's first record (768 bytes at address 0) is in the flash.
  const std::string flash = Flash("blank");
  const std::string image(reinterpret_cast<const char*>(boot->data()), boot->size());
  ASSERT_GE(flash.size(), 768u);
  EXPECT_EQ(flash.substr(0, 768), image.substr(8 + 6, 768));
}

TEST_F(ManufacturingRun, TheBootToolsFailureCodeEndsTheRun) {
  if (!HaveTools()) GTEST_SKIP() << "no simulator or stand-in boot tool in this build";
  Serve(kBlankKt3);
  WriteJob("");
  EXPECT_EQ(Run("-y job.ini 1", ToolEnvironment("KELBOOT_STAND_IN_EXIT=3")), 3) << output;
  EXPECT_TRUE(Has("KelBoot returned an error: 3\r\n")) << output;
  EXPECT_TRUE(fs::is_empty(lockDir()));
  StopSim();
  EXPECT_NE(UnitState("blank").find("role = blank-chip"), std::string::npos);
}

}  // namespace
}  // namespace kel

#endif  // !defined(_WIN32)
