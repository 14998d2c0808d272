// End-to-end checks of the production line's runs on POSIX: the real
// program against the simulator on pseudo-terminals, driven by a parameter
// file, with the stand-in boot tool in the real tool's place.
#if !defined(_WIN32)

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "flash/image_catalogue.h"
#include "flash/record_image.h"
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
  /// Whether the dumped flash of `unit` holds every record of the
  /// catalogue image `name` (each in its bank: 0x1A000000 and 0x1B000000 on
  /// the two-bank parts, one bank from 0 on the others).
  bool HoldsImage(const std::string& unit, const char* name) {
    const ImageRef* image = CatalogueImage(name);
    RecordImage records;
    if (image == nullptr || !records.Parse(image->bytes, image->size)) return false;
    for (const ImageRecord& r : records.records()) {
      const uint32_t base = r.address >= 0x1A000000 ? (r.address & 0xFF000000) : 0;
      char bank[9];
      std::snprintf(bank, sizeof bank, "%08X", base);
      const std::string flash = Flash(unit, bank);
      const size_t at = r.address - base;
      if (at + r.length > flash.size() ||
          flash.compare(at, r.length, reinterpret_cast<const char*>(r.data), r.length) != 0) {
        return false;
      }
    }
    return true;
  }
};

const char kBlankKt3[] =
    "[unit blank]\nplace = connected\nrole = blank-chip\ncard = 648\ncircuit = 5\n"
    "buffer-size = 8192\n";

TEST_F(ManufacturingRun, ABlankChipIsProgrammedByTheBootToolOnlyInManufacturingMode) {
  if (!HaveTools()) GTEST_SKIP() << "no simulator or stand-in boot tool in this build";
  const EmbeddedBlob* boot = FindEmbeddedBlob("boot_kt3_lpc1768");
  ASSERT_NE(boot, nullptr);
  const std::string bootFile = home.File("boot.bin");
  ASSERT_TRUE(WriteTextFile(
      bootFile, std::string(reinterpret_cast<const char*>(boot->data()), boot->size())));
  Serve(kBlankKt3);

  // Outside manufacturing mode the chip is left alone, and left so that
  // the next run, with the job, finds it without a power cycle.
  EXPECT_EQ(Run("-i -y 1", ToolEnvironment()), 1);
  EXPECT_TRUE(Has("Fatal Error: Cannot update this unit (blank mcu)\r\n")) << output;
  EXPECT_FALSE(fs::exists(toolLog()));

  WriteJob("Program=1\r\n");
  EXPECT_EQ(
      Run("-y -d job.ini 1", ToolEnvironment("KELBOOT_STAND_IN_BOOT_IMAGE=" + Quoted(bootFile))), 0)
      << output;
  EXPECT_TRUE(Has("-- programming blank chip with KelBoot\r\n")) << output;
  EXPECT_EQ(ReadTextFile(toolLog()), "COM1 -l -s -d -y\n");
  // Then the new boot loader takes the software like any unit.
  EXPECT_TRUE(Has("Success: all operations are complete\r\n")) << output;
  StopSim();
  const std::string state = UnitState("blank");
  EXPECT_NE(state.find("role = application"), std::string::npos) << state;
  EXPECT_NE(state.find("software = 6.10r57"), std::string::npos) << state;
  EXPECT_NE(state.find("boot-loader = 4r24"), std::string::npos) << state;
  EXPECT_TRUE(HoldsImage("blank", "boot_kt3_lpc1768"));
  EXPECT_TRUE(HoldsImage("blank", "soft_kt3_lpc1768"));
}

TEST_F(ManufacturingRun, TheBootToolsFailureCodeEndsTheRun) {
  if (!HaveTools()) GTEST_SKIP() << "no simulator or stand-in boot tool in this build";
  Serve(kBlankKt3);
  WriteJob("");
  EXPECT_EQ(Run("-y job.ini 1", ToolEnvironment("KELBOOT_STAND_IN_EXIT=3")), 3) << output;
  EXPECT_TRUE(Has("KelBoot returned an error: 3\r\n")) << output;
  EXPECT_NE(ReadTextFile(home.File("job.ini")).find("\r\nMessage=KelBoot returned an error: 3\r\n"),
            std::string::npos);
  EXPECT_TRUE(fs::is_empty(lockDir()));
  StopSim();
  EXPECT_NE(UnitState("blank").find("role = blank-chip"), std::string::npos);
}

// A KT3 board whose boot loader is a pre-production one (boot flag bit 7).
const char kPreProductionKt3[] =
    "[unit board]\nplace = connected\ncard = 648\ncircuit = 1\nmcu = LPC1768\n"
    "software = 5.90r10\nboot-loader = 4r18\nboot-flags = 0x82\nmodbus = 4\naddress = 4\n"
    "buffer-size = 8192\n";

TEST_F(ManufacturingRun, APreProductionBoardIsUpdatedOnlyInManufacturingWithTheToolsProgrammer) {
  if (!HaveTools()) GTEST_SKIP() << "no simulator or stand-in boot tool in this build";
  Serve(kPreProductionKt3);
  EXPECT_EQ(Run("-y -f 1", ToolEnvironment()), 1) << output;
  EXPECT_TRUE(Has("Fatal Error: Cannot update this unit (pre-production board)\r\n")) << output;
  EXPECT_FALSE(fs::exists(toolLog()));

  WriteJob("Program=1\r\nUnitType=Transmitter\r\nMcuType=LPC1768\r\n");
  EXPECT_EQ(Run("-y -d job.ini 1", ToolEnvironment("TEMP=" + Quoted(home.path()))), 0) << output;
  EXPECT_TRUE(Has("-- loading flash programmer from KelBoot\r\n")) << output;
  // The tool's programmer (four records of 128 bytes), not the embedded one.
  EXPECT_TRUE(Has("Downloading $10000180(128)")) << output;
  EXPECT_FALSE(Has("Downloading $10000200(")) << output;
  EXPECT_TRUE(Has("-- updating boot loader because test software is present\r\n")) << output;
  EXPECT_TRUE(Has("Success: all operations are complete\r\n")) << output;
  const std::string request = ReadTextFile(toolLog());
  EXPECT_EQ(request.rfind("-g" + home.path() + "/KelUdpater", 0), 0u) << request;
  EXPECT_NE(request.find(".tmp;mcu=5,bootversion=4,bootflags=82,"), std::string::npos) << request;
  for (const auto& entry : fs::directory_iterator(home.path())) {
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  }
  StopSim();
  EXPECT_TRUE(HoldsImage("board", "boot_kt3_lpc1768"));
  EXPECT_TRUE(HoldsImage("board", "soft_kt3_lpc1768"));
  EXPECT_NE(UnitState("board").find("software = 6.10r57"), std::string::npos) << UnitState("board");
}

// A stop while the boot tool hangs (deaf to SIGTERM): the tool is ended
// (killed after its grace), the exchange file goes, the port is let go and
// the run ends with exit code 1 and "-- stopped", not when the tool does.
TEST_F(ManufacturingRun, AStopEndsAHungBootTool) {
  if (!HaveTools()) GTEST_SKIP() << "no simulator or stand-in boot tool in this build";
  Serve(kPreProductionKt3);
  WriteJob("Program=1\r\nUnitType=Transmitter\r\nMcuType=LPC1768\r\n");
  const std::string pidFile = home.File("tool.pid");
  const std::string temp = home.File("temp");
  fs::create_directories(temp);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunAndSignal("-y job.ini 1", 200, SIGTERM,
                         ToolEnvironment("KELBOOT_STAND_IN_HANG=60 KELBOOT_STAND_IN_PID=" +
                                         Quoted(pidFile) + " TEMP=" + Quoted(temp)),
                         pidFile),
            1)
      << output;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_TRUE(Has("\r\n-- stopped\r\n")) << output;
  const int tool = std::atoi(ReadTextFile(pidFile).c_str());
  ASSERT_GT(tool, 0);
  EXPECT_NE(kill(tool, 0), 0);  // gone, and waited for
  EXPECT_TRUE(fs::is_empty(temp));
  EXPECT_TRUE(fs::is_empty(lockDir()));
}

TEST_F(ManufacturingRun, AJobFindsItsUnitBehindATestJigAndProgramsItThroughTheProxy) {
  if (!HaveTools()) GTEST_SKIP() << "no simulator or stand-in boot tool in this build";
  // The shipped jig scenario as it is.
  const std::string jig = ReadTextFile(std::string(KEL_SOURCE_DIR) + "/sim/scenarios/kj3_jig.scn");
  simArguments = "--dump " + Quoted(dumpDir());
  StartSim(jig, 1);
  WriteJob("Program=1\r\nUnitType=2\r\nMcuType=LPC4337,LPC4357\r\n");
  EXPECT_EQ(Run("-y -d job.ini 1"), 0) << output;
  EXPECT_TRUE(Has("-- found\r\n")) << output;
  EXPECT_TRUE(Has("-- using buffered protocol\r\n")) << output;
  EXPECT_TRUE(Has("Success: all operations are complete\r\n")) << output;
  EXPECT_TRUE(Has("RPC: CloseKelUpdaterProxy\r\n")) << output;
  StopSim();
  EXPECT_NE(UnitState("kt5-under-test").find("software = 6.10r57"), std::string::npos)
      << UnitState("kt5-under-test");
  EXPECT_TRUE(HoldsImage("kt5-under-test", "soft_kt5_lpc4337"));
  EXPECT_NE(UnitState("kj3").find("software = 6.10r57"), std::string::npos);
}

// The jig falls silent from the middle of a job on: the failed run's way
// out asks the jig back from the speed it moved the jig to, not from the one
// it asked of the unit behind it, and the jig ends at its found speed.
TEST_F(ManufacturingRun, AFailedJobThroughATestJigLeavesTheJigAtItsFoundSpeed) {
  if (!HaveTools()) GTEST_SKIP() << "no simulator or stand-in boot tool in this build";
  std::string jig = ReadTextFile(std::string(KEL_SOURCE_DIR) + "/sim/scenarios/kj3_jig.scn");
  jig = "[port]\nnumber = 1\nfault = silence value=1500 request=7217\n\n" + jig;
  simArguments = "--dump " + Quoted(dumpDir());
  StartSim(jig, 1);
  WriteJob("Program=1\r\nUnitType=2\r\nMcuType=LPC4337,LPC4357\r\n");
  EXPECT_NE(Run("-y -d job.ini 1"), 0) << output;
  EXPECT_FALSE(Has("Success")) << output;
  StopSim();
  EXPECT_NE(UnitState("kj3").find("baud = 38400\n"), std::string::npos) << UnitState("kj3");
}

// A KD4 with a KT5 behind it, the KD4 answering at `baud`.
std::string Kd4WithKt5Behind(int baud) {
  return "[unit kd4]\nplace = connected\ncard = 653\nsoftware = 6.10r57\nmodbus = 10\n"
         "boot-loader = 4r18\nbaud = " +
         std::to_string(baud) +
         "\n[unit kt5]\nplace = network\ncard = 659\nsoftware = 6.08r12\nmodbus = 3\n"
         "boot-loader = 4r18\n";
}

// The KT5 takes update files over the KD4 at the programming speed and is
// found again after its restart; the KD4 ends at the speed it was found at.
TEST_F(ManufacturingRun, AUnitBehindTheConnectedOneIsUpdatedAndTheConnectedOneKeepsItsSpeed) {
  if (!HaveTools()) GTEST_SKIP() << "no simulator or stand-in boot tool in this build";
  for (int baud : {19200, 38400}) {
    SCOPED_TRACE(baud);
    Serve(Kd4WithKt5Behind(baud));
    // An earlier failed run of the job left its reason.
    WriteJob(
        "Program=1\r\nUnitType=Transmitter\r\nMcuType=LPC4337,LPC4357\r\n"
        "Message=Unable to reconnect to unit\r\n");
    EXPECT_EQ(Run("-y -d job.ini 1"), 0) << output;
    EXPECT_TRUE(Has("-- found matching remote unit: 3\r\n")) << output;
    EXPECT_TRUE(Has("Success: all operations are complete\r\n")) << output;
    EXPECT_NE(ReadTextFile(home.File("job.ini")).find("\r\nMessage=\r\n"), std::string::npos);
    StopSim();
    EXPECT_NE(UnitState("kt5").find("software = 6.10r57"), std::string::npos) << UnitState("kt5");
    EXPECT_NE(UnitState("kd4").find("baud = " + std::to_string(baud) + "\n"), std::string::npos)
        << UnitState("kd4");
  }
}

// A KD4 that an earlier run left at 38400 baud belongs at 19200: the job
// brings it there before it reports success, not after.
TEST_F(ManufacturingRun, AJobLedByASpeedNoteSucceedsOnlyWithTheUnitAtTheNotedSpeed) {
  if (!HaveTools()) GTEST_SKIP() << "no simulator or stand-in boot tool in this build";
  const std::string folder = home.File("config") + "/Arkwend/Ponderix";
  fs::create_directories(folder);
  ASSERT_TRUE(WriteTextFile(folder + "/FoundSpeedCOM1", "19200 38400 N 10 653 530123"));
  std::string units = Kd4WithKt5Behind(38400);
  units.insert(units.find("modbus = 10\n"), "serial = 530123\n");
  Serve(units);
  WriteJob("Program=1\r\nUnitType=Transmitter\r\nMcuType=LPC4337,LPC4357\r\n");
  EXPECT_EQ(Run("-y -d job.ini 1"), 0) << output;
  const size_t success = output.find("Success: all operations are complete");
  ASSERT_NE(success, std::string::npos) << output;
  EXPECT_LT(output.find("Changing Ponderix baud rate to 19200"), success) << output;
  StopSim();
  EXPECT_NE(UnitState("kd4").find("baud = 19200\n"), std::string::npos) << UnitState("kd4");
}

TEST_F(ManufacturingRun, ARefusedUpdateFailsTheJobWithExitCodeTwo) {
  if (!HaveTools()) GTEST_SKIP() << "no simulator or stand-in boot tool in this build";
  // Newer software (build increment 2) that must not be downgraded.
  Serve(
      "[unit kt5]\nplace = connected\ncard = 659\nsoftware = 6.20r01\nbuild = 2\n"
      "boot-loader = 4r18\nmodbus = 4\n");
  WriteJob("Program=1\r\n");
  EXPECT_EQ(Run("-y job.ini 1"), 2) << output;
  EXPECT_TRUE(Has("The software cannot be downgraded to 6.10r57\r\n")) << output;
  EXPECT_TRUE(Has("\aFAILURE: unable to update unit!\r\n")) << output;
  EXPECT_FALSE(Has("Success")) << output;
  EXPECT_NE(ReadTextFile(home.File("job.ini")).find("Message=unable to update unit\r\n"),
            std::string::npos);
  StopSim();
  EXPECT_NE(UnitState("kt5").find("software = 6.20r01"), std::string::npos);
}

}  // namespace
}  // namespace kel

#endif  // !defined(_WIN32)
