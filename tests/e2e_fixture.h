#pragma once

// The shared set-up of the end-to-end tests (POSIX only): the real program
// run from the shell in a private home, with the simulator program serving
// units on pseudo-terminals linked as comN in a folder of its own.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform_test_support.h"

namespace kel {

// A scenario line that serves the units on COM3.
inline constexpr char kOnComThree[] = "\n[port]\nnumber = 3";

inline std::string Quoted(const std::string& text) { return "'" + text + "'"; }

class ProgramRunFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(comDir());
    std::filesystem::create_directories(lockDir());
  }
  void TearDown() override { StopSim(); }

  std::string comDir() { return home.File("com"); }
  std::string lockDir() { return home.File("locks"); }
  bool HaveSimulator() const {
#if defined(KEL_SIM_PATH)
    return true;
#else
    return false;
#endif
  }

  /// Starts the simulator on `scenario` and waits for its COM`port` link.
  void StartSim(const std::string& scenario, int port) {
#if defined(KEL_SIM_PATH)
    const std::string file = home.File("units.scn");
    ASSERT_TRUE(WriteTextFile(file, scenario));
    const std::string command = Quoted(KEL_SIM_PATH) + " --scenario " + Quoted(file) +
                                " --comdir " + Quoted(comDir()) + " --exit-after-idle 60 " +
                                simArguments + " >" + Quoted(home.File("sim.log")) +
                                " 2>&1 & echo $! >" + Quoted(home.File("sim.pid"));
    ASSERT_EQ(std::system(command.c_str()), 0);
    simPid_ = std::atoi(ReadTextFile(home.File("sim.pid")).c_str());
    const std::string link = comDir() + "/com" + std::to_string(port);
    for (int i = 0; i < 200 && !std::filesystem::exists(link); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_TRUE(std::filesystem::exists(link)) << ReadTextFile(home.File("sim.log"));
#else
    (void)scenario;
    (void)port;
#endif
  }
  void StopSim() {
    if (simPid_ <= 0) return;
    const std::string command = "kill -TERM " + std::to_string(simPid_) + " 2>/dev/null; " +
                                "while kill -0 " + std::to_string(simPid_) +
                                " 2>/dev/null; do sleep 0.05; done";
    std::system(command.c_str());
    simPid_ = 0;
  }

  /// The shell words that set the program's environment.
  std::string Environment(const std::string& extra) {
    return "env -u PONDERIXPORTLIST -u PONDERIXPORT -u PONDERIXBAUDRATE HOME=" +
           Quoted(home.path()) + " XDG_CONFIG_HOME=" + Quoted(home.File("config")) +
           " PONDERIXCOMDIR=" + Quoted(comDir()) + " PONDERIXLOCKDIR=" + Quoted(lockDir()) + " " +
           extra + " ";
  }

  /// The shell command that runs the program with `arguments` in the home
  /// folder: `runAs`, the environment, the program.
  std::string Command(const std::string& arguments, const std::string& environment = "") {
    return runAs + Environment(environment) + Quoted(program) + " " + arguments;
  }

  /// Runs the program with no keys on standard input; returns its exit code.
  int Run(const std::string& arguments, const std::string& environment = "") {
    return RunAnswering(arguments, "", environment);
  }

  /// Runs the program and gives the characters of `answers` one by one to
  /// its questions: each once the program has shown one more " (y/n)" (or
  /// after 30 s), so that no key is read before its question. Then the end
  /// of input. Returns the exit code.
  int RunAnswering(const std::string& arguments, const std::string& answers,
                   const std::string& environment = "") {
    const std::string out = home.File("stdout.txt");
    const std::string code = home.File("code.txt");
    std::string input = " </dev/null";
    std::string feeder;
    if (!answers.empty()) {
      feeder = "(n=0; for k in";
      for (char key : answers) feeder += std::string(" ") + key;
      feeder += "; do n=$((n+1)); w=0; while [ \"$(grep -o '(y/n)' " + Quoted(out) +
                " 2>/dev/null | wc -l)\" -lt $n ] && [ $w -lt 600 ]; do sleep 0.05; "
                "w=$((w+1)); done; printf %s \"$k\"; done) | ";
      input = "";
    }
    std::filesystem::remove(out);
    const std::string command = "cd " + Quoted(home.path()) + " && " + feeder + "{ " +
                                Command(arguments, environment) + input + " >" + Quoted(out) +
                                " 2>&1; echo $? >" + Quoted(code) + "; }";
    if (std::system(command.c_str()) != 0) return -1;
    output = ReadTextFile(out);
    return std::atoi(ReadTextFile(code).c_str());
  }

  /// Starts the program in the background, lets it run `ms` (counted from
  /// when `readyFile`, if named, exists, and its output holds `readyText`,
  /// if given), sends it `signal`, waits for its end and returns its exit
  /// code.
  int RunAndSignal(const std::string& arguments, int ms, int signal,
                   const std::string& environment = "", const std::string& readyFile = "",
                   const std::string& readyText = "") {
    const std::string out = home.File("stdout.txt");
    const std::string code = home.File("code.txt");
    const std::string pid = home.File("run.pid");
    // The script's own process becomes the program (exec), so its pid is
    // the program's whoever it runs as.
    const std::string script = home.File("run.sh");
    // An earlier run's output and pid must not pass for this one's.
    std::filesystem::remove(code);
    std::filesystem::remove(out);
    std::filesystem::remove(pid);
    if (!WriteTextFile(script, "cd " + Quoted(home.path()) + " || exit 99\necho $$ >" +
                                   Quoted(pid) + "\nexec " + Command(arguments, environment) +
                                   "\n")) {
      return -1;
    }
    const std::string start = "(sh " + Quoted(script) + " </dev/null >" + Quoted(out) +
                              " 2>&1; echo $? >" + Quoted(code) + ") &";
    if (std::system(start.c_str()) != 0) return -1;
    for (int waited = 0; !readyFile.empty() && !std::filesystem::exists(readyFile) &&
                         !std::filesystem::exists(code) && waited < 60000;
         waited += 20) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (int waited = 0; !readyText.empty() &&
                         ReadTextFile(out).find(readyText) == std::string::npos &&
                         !std::filesystem::exists(code) && waited < 120000;
         waited += 10) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    for (int waited = 0; ReadTextFile(pid).empty() && waited < 10000; waited += 10) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::string target = std::to_string(std::atoi(ReadTextFile(pid).c_str()));
    const std::string stop = "kill -" + std::to_string(signal) + " " + target + "; while [ ! -s " +
                             Quoted(code) + " ]; do sleep 0.05; done";
    if (std::system(stop.c_str()) != 0) return -1;
    output = ReadTextFile(out);
    return std::atoi(ReadTextFile(code).c_str());
  }

  /// The log files in the LogFiles folder beside `program`, oldest first.
  std::vector<std::string> Logs() {
    std::vector<std::string> logs;
    const std::filesystem::path folder = std::filesystem::path(program).parent_path() / "LogFiles";
    if (!std::filesystem::exists(folder)) return logs;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      logs.push_back(entry.path().string());
    }
    std::sort(logs.begin(), logs.end());
    return logs;
  }

  /// Runs a copy of the program in home/bin from now on, so that its
  /// LogFiles folder holds this test's logs alone.
  void UsePrivateCopy() {
    std::filesystem::create_directories(home.File("bin"));
    program = home.File("bin") + "/KelUpdater";
    std::filesystem::copy_file(KEL_BINARY_PATH, program);
  }

  /// The files in the PonderixLogFiles folder beside `program`, by name,
  /// with their contents.
  std::map<std::string, std::string> ExtractedLogs() {
    std::map<std::string, std::string> files;
    const std::filesystem::path folder =
        std::filesystem::path(program).parent_path() / "PonderixLogFiles";
    if (!std::filesystem::exists(folder)) return files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      files[entry.path().filename().string()] = ReadTextFile(entry.path().string());
    }
    return files;
  }

  /// The rows of the update history beside `program` (header left out),
  /// each split into its CSV fields.
  std::vector<std::vector<std::string>> HistoryRows() {
    const std::string text = ReadTextFile(
        (std::filesystem::path(program).parent_path() / "LogFiles" / "UpdateHistory.csv").string());
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row(1);
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (quoted) {
        if (c != '"') {
          row.back() += c;
        } else if (i + 1 < text.size() && text[i + 1] == '"') {
          row.back() += '"';
          ++i;
        } else {
          quoted = false;
        }
      } else if (c == '"') {
        quoted = true;
      } else if (c == ',') {
        row.emplace_back();
      } else if (c == '\n') {
        rows.push_back(row);
        row.assign(1, std::string());
      } else if (c != '\r') {
        row.back() += c;
      }
    }
    if (!rows.empty()) rows.erase(rows.begin());
    return rows;
  }

  bool Has(const std::string& text) const { return output.find(text) != std::string::npos; }

  TemporaryFolder home;
  std::string output;
  /// More words for the simulator's command line (say "--dump DIR"), set
  /// before StartSim.
  std::string simArguments;
  /// The program run; a test may put a copy elsewhere.
  std::string program = KEL_BINARY_PATH;
  /// Words before the program's environment, e.g. to run it as another user.
  std::string runAs;

 private:
  int simPid_ = 0;
};

}  // namespace kel
