// End to end: --plan runs the real program against the simulator program
// and sends nothing but reads, whatever it finds (POSIX only).
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/changing_requests.h"
#include "tests/e2e_fixture.h"
#include "tests/update_units.h"

namespace kel {
namespace {

// A KT5 with no application software: only its boot loader answers.
constexpr char kKt5InItsBootLoader[] = R"(
[unit kt5]
place = connected
role = boot-loader
card = 659
circuit = 1
software = 6.08r12
boot-loader = 4r18
boot-flags = 0x03
buffer-size = 8192
)";

class PlanRun : public ProgramRunFixture {
 protected:
  void SetUp() override {
    if (!HaveSimulator()) GTEST_SKIP() << "the simulator program is not part of this build";
    ProgramRunFixture::SetUp();
    simArguments = "--transcript " + Quoted(transcript());
  }
  std::string transcript() { return home.File("transcript.txt"); }

  /// The frames the program sent that the units read, from the
  /// simulator's transcript ("COM3 tick speed -> bytes ; note").
  std::vector<std::vector<uint8_t>> Sent() {
    std::vector<std::vector<uint8_t>> frames;
    std::istringstream lines(ReadTextFile(transcript()));
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream words(line.substr(0, line.find(';')));
      std::string port, tick, speed, arrow, byte;
      words >> port >> tick >> speed >> arrow;
      if (arrow != "->") continue;
      std::vector<uint8_t> frame;
      while (words >> byte) frame.push_back(static_cast<uint8_t>(std::stoi(byte, nullptr, 16)));
      frames.push_back(frame);
    }
    return frames;
  }
};

// Whatever the job and whatever answers (a network, a unit in its boot
// loader, a test jig), the plan ends with exit 0 and its own last line, and
// the units saw only reads: nothing written, erased or restarted, no speed
// changed, no proxy switched on.
TEST_F(PlanRun, SendsOnlyReadsAndEndsWithExitZero) {
  struct Case {
    const char* name;
    std::string units;
    int port;
    const char* arguments;
    std::vector<const char*> shown;
    const char* speedNote = nullptr;  // what an earlier run left noted for COM3
  };
  const std::string jig = ReadTextFile(std::string(KEL_SOURCE_DIR) + "/sim/scenarios/kj3_jig.scn");
  std::string kd4Left = std::string(kOnComThree) + kKd4WithTwoKt5;
  kd4Left.insert(kd4Left.find("modbus = 10\n"), "baud = 38400\n");
  const Case cases[] = {
      {"a network",
       std::string(kOnComThree) + kKd4WithTwoKt5,
       3,
       "--plan -y 3",
       {"   3  KT5 Transmitter  v6.08r12 -> v6.10r57  would get update files\r\n",
        "   12  KT5 Transmitter  v6.08r12 -> v6.10r57  would get update files\r\n",
        "Estimated time in all: at least "}},
      {"a unit in its boot loader",
       std::string(kOnComThree) + kKt5InItsBootLoader,
       3,
       "--plan -i -y 3",
       {"KT5 Transmitter, in its boot loader", "direct: through the boot loader it runs"}},
      {"a production job on a test jig",
       jig,
       1,
       "--plan -y job.ini 1",
       {"reached through the jig's proxy, which a plan does not switch on"}},
      // The job only reports its unit, which an earlier run left at 38400
      // baud: a plain run would put it back, a plan leaves it there.
      {"a production job that programs nothing",
       kd4Left,
       3,
       "--plan -y report.ini 3",
       {"-- nothing to do\r\n"},
       "19200 38400 N 10 653 1"},
  };
  ASSERT_TRUE(WriteTextFile(home.File("job.ini"), "KelManufacture=1\r\nProgram=1\r\n"));
  ASSERT_TRUE(WriteTextFile(home.File("report.ini"), "KelManufacture=1\r\nProgram=0\r\n"));
  const std::string notes = home.File("config") + "/Arkwend/Ponderix";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.speedNote != nullptr) {
      std::filesystem::create_directories(notes);
      ASSERT_TRUE(WriteTextFile(notes + "/FoundSpeedCOM3", c.speedNote));
    }
    StartSim(c.units, c.port);
    EXPECT_EQ(Run(c.arguments), 0) << output;
    StopSim();
    for (const char* text : c.shown) EXPECT_TRUE(Has(text)) << text << "\n" << output;
    const std::string last = "Plan complete: no unit was changed\r\n";
    EXPECT_EQ(output.rfind(last), output.size() - last.size()) << output;
    const std::vector<std::vector<uint8_t>> sent = Sent();
    EXPECT_FALSE(sent.empty());
    const std::vector<std::string> changing = ChangingRequests(sent);
    EXPECT_TRUE(changing.empty()) << changing.front();
  }
}

// A plan of a production job leaves a blank chip's ROM loader waiting for
// the handshake, so that the job run next (or another plan) finds it.
TEST_F(PlanRun, LeavesABlankChipToBeFoundAgain) {
  ASSERT_TRUE(WriteTextFile(home.File("job.ini"), "KelManufacture=1\r\nProgram=1\r\n"));
  StartSim(std::string(kOnComThree) +
               "\n[unit blank]\nplace = connected\nrole = blank-chip\ncard = 659\n",
           3);
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    EXPECT_EQ(Run("--plan -y job.ini 3"), 0) << output;
    EXPECT_TRUE(Has("-- a blank chip answers: the production job would have KelBoot")) << output;
  }
}

}  // namespace
}  // namespace kel

#endif  // !defined(_WIN32)
