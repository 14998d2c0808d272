#include "flash/boot_tool_programmer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/boot_tool_stand_in.h"
#include "tests/platform_test_support.h"
#include "tests/runtime_fixture.h"

namespace kel {
namespace {

#if !defined(_WIN32)

// The tool writes `bytes` (printf escapes) into the file named by -g.
struct ProgrammerRun {
  explicit ProgrammerRun(const std::string& bytes) {
    InstallTool(folder, "f=\"${1#-g}\"; f=\"${f%%;*}\"; printf '" + bytes + "' > \"$f\"");
    f.options.yesToPrompts = true;
    f.env.Set("PONDERIXPATH", folder.path());
    f.env.Set("TEMP", folder.path());
  }
  TemporaryFolder folder;
  RuntimeFixture f;
  UnitInfo unit;
  BootToolProgrammer programmer;
};

constexpr char kGoodImage[] =
    "\\020\\000\\000\\000\\000\\000\\000\\004"
    "\\020\\000\\000\\000\\000\\004\\001\\002\\003\\004"
    "\\377\\377\\377\\377";

TEST(LoadProgrammerFromBootTool, TakesAWellFormedProgrammerAndDeletesTheFile) {
  ProgrammerRun run(kGoodImage);
  LoadProgrammerFromBootTool(run.f.runtime, run.unit, run.programmer);
  ASSERT_NE(run.unit.flashProgrammer, nullptr);
  EXPECT_EQ(run.unit.flashProgrammer->size, 22u);
  for (const auto& entry : std::filesystem::directory_iterator(run.folder.path())) {
    EXPECT_NE(entry.path().extension(), ".tmp");
  }
}

TEST(LoadProgrammerFromBootTool, RefusesEmptyTruncatedOrMissingOutput) {
  for (const std::string& bytes : {std::string(), std::string(kGoodImage).substr(0, 60)}) {
    ProgrammerRun run(bytes);
    EXPECT_EQ(run.f.ExitCodeOf(
                  [&] { LoadProgrammerFromBootTool(run.f.runtime, run.unit, run.programmer); }),
              1);
    EXPECT_NE(run.f.console.output().find(
                  "Fatal Error: KelBoot did not produce a usable flash programmer"),
              std::string::npos);
    EXPECT_EQ(run.unit.flashProgrammer, nullptr);
  }
  // Nothing written, and a FIFO put where the file was (never opened).
  for (const char* tool : {"exit 0", "f=\"${1#-g}\"; f=\"${f%%;*}\"; rm \"$f\"; mkfifo \"$f\""}) {
    ProgrammerRun silent("");
    InstallTool(silent.folder, tool);
    EXPECT_EQ(silent.f.ExitCodeOf([&] {
      LoadProgrammerFromBootTool(silent.f.runtime, silent.unit, silent.programmer);
    }),
              1)
        << tool;
  }
}

TEST(LoadProgrammerFromBootTool, AFailingToolEndsTheRunWithItsCodeAndLeavesNoFile) {
  ProgrammerRun run(kGoodImage);
  InstallTool(run.folder, "exit 3");
  EXPECT_EQ(run.f.ExitCodeOf(
                [&] { LoadProgrammerFromBootTool(run.f.runtime, run.unit, run.programmer); }),
            3);
  for (const auto& entry : std::filesystem::directory_iterator(run.folder.path())) {
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  }
}

#endif

}  // namespace
}  // namespace kel
