// End to end: a direct update that writes the boot loader is stopped,
// killed or cut off by the line in the middle of that write. The boot
// loader is never left half written by the program's choice, and a rerun
// finishes the update through the programmer still running in the unit,
// without a power cycle (which would leave a half-written boot loader
// unable to start). POSIX only.
#if !defined(_WIN32)

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <string>

#include "tests/e2e_fixture.h"
#include "tests/update_units.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

constexpr char kBootLoaderWrite[] = "Preparing to update Boot Loader...";

class BootLoaderRun : public ProgramRunFixture {
 protected:
  void SetUp() override {
    if (!HaveSimulator()) GTEST_SKIP() << "the simulator program is not part of this build";
    ProgramRunFixture::SetUp();
    simArguments = "--dump " + Quoted(home.File("dump")) + " --control " + Quoted(Control());
  }

  std::string Control() { return home.File("control"); }

  // The old KT3 on COM3; with the line model its boot loader takes about a
  // second at 115200 baud, long enough to be stopped in.
  void Serve(const std::string& extra, const std::string& unitExtra = "") {
    fs::remove_all(home.File("dump"));
    StartSim(std::string(kOnComThree) + "\n" + extra + kOldKt3 + unitExtra, 3);
  }

  // Gives the simulator a control command and waits for its answer.
  std::string Command(const std::string& line) {
    const std::string reply = Control() + ".reply";
    fs::remove(reply);
    EXPECT_TRUE(WriteTextFile(Control() + ".part", line + "\n"));
    fs::rename(Control() + ".part", Control());
    for (int i = 0; i < 200 && !fs::exists(reply); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return ReadTextFile(reply);
  }

  // A key of the unit's dumped state. The simulator is stopped to dump,
  // once a restart the run asked for (some 300 ms) has had its time.
  std::string State(const std::string& key) {
    if (!dumped_) std::this_thread::sleep_for(std::chrono::seconds(1));
    dumped_ = true;
    StopSim();
    const std::string text = ReadTextFile(home.File("dump") + "/com3/kt3/unit.txt");
    const size_t at = text.find(key + " = ");
    if (at == std::string::npos) return "";
    const size_t from = at + key.size() + 3;
    return text.substr(from, text.find('\n', from) - from);
  }

  bool dumped_ = false;

  // The one copy of backup fields in the program's LogFiles whose name
  // starts with `prefix`, or "" when there is not exactly one.
  std::string KeptCopy(const std::string& prefix) {
    std::string found;
    int count = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(program).parent_path() / "LogFiles")) {
      if (entry.path().filename().string().rfind(prefix, 0) != 0) continue;
      found = entry.path().string();
      ++count;
    }
    return count == 1 ? found : std::string();
  }

  size_t Count(const std::string& text) const {
    size_t n = 0;
    for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1))
      ++n;
    return n;
  }
};

// A stop in the middle of the boot loader waits until it is whole; then the
// run ends as a stop does, and its way out restarts the unit (its old
// software starts, with the new boot loader).
class HeldStop : public BootLoaderRun, public ::testing::WithParamInterface<int> {};

TEST_P(HeldStop, WaitsUntilTheBootLoaderIsWhole) {
  Serve("line-model = yes");
  EXPECT_EQ(RunAndSignal("-y -f -l 3", 200, GetParam(), "", "", kBootLoaderWrite), 1) << output;
  EXPECT_TRUE(Has("-- stop received: the boot loader is written whole first")) << output;
  EXPECT_TRUE(Has("-- stopped")) << output;
  EXPECT_EQ(Count("Updating Ponderix software"), 1u) << output;  // the software never began
  EXPECT_TRUE(fs::is_empty(lockDir()));
  EXPECT_EQ(State("boot-region"), "whole");
  EXPECT_EQ(State("boot-loader"), "4r24");
  EXPECT_EQ(State("role"), "application");
  EXPECT_EQ(State("software"), "5.90r10");
}

INSTANTIATE_TEST_SUITE_P(Signals, HeldStop, ::testing::Values(SIGINT, SIGHUP),
                         [](const auto& info) { return info.param == SIGINT ? "Int" : "Hup"; });

// Killed in the middle of the boot loader, the run can do nothing; the next
// run finds the programmer still running, takes the note the killed run
// left, writes the boot loader first, then the software and the files.
TEST_F(BootLoaderRun, AKilledRunsUpdateIsFinishedThroughItsProgrammer) {
  Serve("line-model = yes");
  RunAndSignal("-y -f -l 3", 200, SIGKILL, "", "", kBootLoaderWrite);
  ASSERT_EQ(Run("-y -f -r 921600 3"), 0) << output;
  EXPECT_TRUE(Has("-- the unit is running the flash programmer of an earlier run that was cut "
                  "short: finishing its update\r\n"))
      << output;
  EXPECT_TRUE(Has("-- ponderix boot loader will be updated\r\n")) << output;
  EXPECT_FALSE(Has("power off and on")) << output;
  EXPECT_TRUE(Has("Success: all operations are complete\r\n")) << output;
  EXPECT_TRUE(fs::is_empty(home.File("config/Arkwend/Ponderix")) ||
              !fs::exists(home.File("config/Arkwend/Ponderix/ProgrammerCOM3")));
  EXPECT_EQ(State("boot-region"), "whole");
  EXPECT_EQ(State("software"), "6.10r57");
  EXPECT_EQ(State("role"), "application");
}

// Killed while the software is written, with the boot loader whole: the
// next run restarts the programmer left running, and the unit, back in its
// boot loader, says itself who it is; the update then goes as any other.
TEST_F(BootLoaderRun, AProgrammerLeftWithAWholeBootLoaderIsRestartedFirst) {
  Serve("line-model = yes");
  RunAndSignal("-y -f -r 921600 3", 300, SIGKILL, "", "", "Updating Ponderix software");
  ASSERT_EQ(Run("-y -f -r 921600 3"), 0) << output;
  EXPECT_TRUE(Has("-- the unit was left running its flash programmer by an earlier run: "
                  "restarting it\r\n"))
      << output;
  EXPECT_FALSE(Has("finishing its update")) << output;
  EXPECT_FALSE(Has("power off and on")) << output;
  EXPECT_EQ(State("software"), "6.10r57");
  EXPECT_EQ(State("boot-region"), "scenario");
}

// The line goes in the middle of the boot loader: it is sent whole once
// more, then the run gives up saying not to switch the unit off, and does
// not restart it. With the cable back, the next run finishes the update.
TEST_F(BootLoaderRun, ALineLostInTheBootLoaderLeavesTheProgrammerForTheNextRun) {
  Serve("fault = unplug command=0x1042 at=2");
  EXPECT_EQ(Run("-y -f -l 3"), 1) << output;
  EXPECT_TRUE(Has("-- sending the whole boot loader again\r\n")) << output;
  EXPECT_TRUE(Has("The boot loader could not be written completely. Do not switch the unit off: "
                  "run KelUpdater again to finish the update.\r\n"))
      << output;
  EXPECT_TRUE(Has("Fatal Error: Unable to write new boot loader: do not switch the unit off, run "
                  "KelUpdater again\r\n"))
      << output;
  EXPECT_EQ(Command("plug COM3"), "ok plug COM3\n");
  ASSERT_EQ(Run("-y -f 3"), 0) << output;
  EXPECT_TRUE(Has("finishing its update")) << output;
  EXPECT_EQ(State("boot-region"), "whole");
  EXPECT_EQ(State("software"), "6.10r57");
}

// The copy of the backup fields a refused write-back left on the computer
// is what the unit's fields are restored from: a later run that rewrites
// the boot loader puts that copy back, or leaves it where it is, and never
// drops it unused.
TEST_F(BootLoaderRun, AKeptCopyOfTheBackupFieldsIsNotDroppedUnused) {
  UsePrivateCopy();
  Serve("fault = drop-request command=0x1050 times=8", "backup = fill 0x5A\n");
  EXPECT_EQ(Run("-y -f -l 3"), 1) << output;
  const std::string kept = KeptCopy("BackupFields-648-1-");
  ASSERT_EQ(ReadTextFile(kept), std::string(256, '\x5A')) << output;
  ASSERT_EQ(Run("-y -f -l -w 3"), 0) << output;
  State("role");
  const std::string fields = ReadTextFile(home.File("dump") + "/com3/kt3/backup.bin");
  EXPECT_TRUE(fields == std::string(256, '\x5A') || fs::exists(kept))
      << "the unit's fields are lost and so is the copy";
}

// A copy kept for one unit is never written into another: two units of
// the same card and serial number (serial numbers not yet given) get their
// own fields back after a rerun finishes a killed boot-loader write.
TEST_F(BootLoaderRun, AnotherUnitsKeptCopyIsNotWrittenBack) {
  UsePrivateCopy();
  Serve("fault = drop-request command=0x1050 times=8", "backup = fill 0x11\n");
  EXPECT_EQ(Run("-y -f -l 3"), 1) << output;
  StopSim();
  Serve("line-model = yes", "backup = fill 0x22\n");
  RunAndSignal("-y -f -l 3", 200, SIGKILL, "", "", kBootLoaderWrite);
  ASSERT_EQ(Run("-y -f -r 921600 3"), 0) << output;
  State("role");
  EXPECT_EQ(ReadTextFile(home.File("dump") + "/com3/kt3/backup.bin"), std::string(256, '\x22'))
      << output;
}

// Killed during the programmer's download, the run leaves the unit in its
// boot loader, which answers the next run at once: no power cycle is asked
// for (nor a minute spent waiting for one).
TEST_F(BootLoaderRun, AUnitLeftInItsBootLoaderIsNotPowerCycled) {
  Serve("line-model = yes");
  RunAndSignal("-y -f -l 3", 100, SIGKILL, "", "", "Downloading programmer...");
  ASSERT_EQ(Run("-y -f -l -r 921600 3"), 0) << output;
  EXPECT_FALSE(Has("power off and on")) << output;
  EXPECT_EQ(State("boot-region"), "whole");
}

}  // namespace
}  // namespace kel

#endif
