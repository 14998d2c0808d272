// Several production stations driven from one computer at once: one
// simulator per station serves its unit (or network) on a pseudo-terminal
// of its own with the line model on, and one KelUpdater run per station
// starts at the same moment, all sharing the program's folder (logs, update
// history, extracted logs), the lock folder, the remembered port and the
// temporary folder. The jobs are a mix, station by station: a direct update
// of a KT3 (-f), update files for a KT5 behind a connected KT5 (applied at
// once by the system restart), a blank KT3 chip programmed through the
// stand-in boot tool in a production job, and log extraction (-x).
//
// Afterwards every unit's dump is checked against the embedded images,
// every run's log against its own command line, the update history for one
// row per updated unit, and the extracted logs for their station's text.
// Unless --quick, each kind of job first runs alone, and a run's ratio is
// its time among the others over that alone time. One line:
//
//   stations-bench stations=N ok=N failed=N worst_ratio=R cpu_s=C peak_rss_mb=M
//
// cpu_s and peak_rss_mb are the N concurrent updater runs' (all of them,
// and the largest); sim_cpu_s, printed after them, is their simulators'.
// Options: --stations N (default 8), --quick (correctness only: no alone
// runs, worst_ratio=na), --keep (leave the work folder and print its path).
#if defined(_WIN32)
#include <cstdio>
int main() {
  std::printf("stations-bench: needs pseudo-terminals (POSIX only)\n");
  return 0;
}
#else

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "flash/image_catalogue.h"
#include "flash/record_image.h"
#include "images/embedded_blobs.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

enum class Kind { kDirect, kNetwork, kBlankChip, kExtract };
constexpr Kind kKinds[] = {Kind::kDirect, Kind::kNetwork, Kind::kBlankChip, Kind::kExtract};

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kDirect:
      return "direct";
    case Kind::kNetwork:
      return "update-files";
    case Kind::kBlankChip:
      return "blank-chip";
    case Kind::kExtract:
      return "extract";
  }
  return "?";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

// The programs this bench runs, beside it in the build folder.
struct Programs {
  std::string updater, simulator, bootTool;
};

// One station: its port, its unit(s), its folder and its job.
struct Station {
  int port = 0;
  Kind kind = Kind::kDirect;
  fs::path dir;
  std::string arguments;  // after the program name
  std::vector<std::string> environment;
  pid_t simPid = 0;
  pid_t runPid = 0;
  Clock::time_point start;
  double seconds = 0;
  int exitCode = -1;
  std::vector<std::string> problems;

  int serial() const { return 700000 + port * 10; }
  fs::path dump() const { return dir / "dump" / ("com" + std::to_string(port)); }
};

// A log of the extraction job's unit (`kind` 0 the configuration log, 1 to
// 12 its debug logs): together long enough that their copy takes a few
// seconds, like a real unit's, with lines ended by `lineEnd`.
constexpr int kDebugLogs = 12;
std::string UnitLog(int port, int kind, const std::string& lineEnd) {
  const std::string name = kind == 0 ? "configuration" : "debug log " + std::to_string(kind);
  std::string text = name + " of station " + std::to_string(port) + lineEnd;
  for (int line = 1; line <= 100; ++line) text += "line " + std::to_string(line) + lineEnd;
  return text;
}

// The debug logs' file numbers, and their lines in a scenario.
std::string FileNumber(int debugLog) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", 0x0200 + debugLog);
  return text;
}
std::string DebugLogList() {
  std::string list;
  for (int kind = 1; kind <= kDebugLogs; ++kind) list += " " + FileNumber(kind);
  return list;
}
std::string DebugLogFiles(int port) {
  std::string lines;
  for (int kind = 1; kind <= kDebugLogs; ++kind) {
    lines += "file = 1 " + FileNumber(kind) + " " + UnitLog(port, kind, "\\n") + "\n";
  }
  return lines;
}

std::string Scenario(const Station& s) {
  const std::string port = "[port]\nnumber = " + std::to_string(s.port) + "\n";
  const std::string serial = std::to_string(s.serial());
  switch (s.kind) {
    case Kind::kDirect:
      return port +
             "[unit kt3]\nplace = connected\ncard = 648\ncircuit = 1\nmcu = LPC1768\n"
             "software = 5.90r10\nboot-loader = 4r18\nmodbus = 4\nbuffer-size = 128\n"
             "programmer-buffer-size = 8192\nserial = " +
             serial + "\n";
    case Kind::kNetwork:
      return port +
             "[unit kt5]\nplace = connected\ncard = 659\ncircuit = 1\nsoftware = 6.10r57\n"
             "modbus = 5\nboot-loader = 4r18\nserial = " +
             serial +
             "\n[unit behind]\nplace = network\ncard = 659\ncircuit = 1\nsoftware = 6.08r12\n"
             "modbus = 8\nboot-loader = 4r18\nserial = " +
             std::to_string(s.serial() + 1) + "\n";
    case Kind::kBlankChip:
      return port +
             "[unit blank]\nplace = connected\nrole = blank-chip\ncard = 648\ncircuit = 5\n"
             "buffer-size = 8192\n";
    case Kind::kExtract:
      return port +
             "[unit kd4]\nplace = connected\ncard = 653\ncircuit = 2\nsoftware = 6.08r12\n"
             "modbus = 10\nflags = 0x01\nboot-loader = 4r18\nbuffer-size = 1024\nserial = " +
             serial + "\nfile = 1 0x0131 " + UnitLog(s.port, 0, "\\n") +
             "\nfile = 1 0x010F No crash recorded\\n\ndebug-logs =" + DebugLogList() + "\n" +
             DebugLogFiles(s.port);
  }
  return port;
}

// Units the job updates, and so rows it adds to the update history.
int HistoryRowsOf(Kind kind) {
  switch (kind) {
    case Kind::kDirect:
    case Kind::kBlankChip:
      return 1;
    case Kind::kNetwork:
      return 2;
    case Kind::kExtract:
      return 0;
  }
  return 0;
}

double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

pid_t Spawn(const std::vector<std::string>& words, const std::vector<std::string>& environment,
            const fs::path& output) {
  const pid_t child = fork();
  if (child != 0) return child;
  for (const std::string& variable : environment) putenv(const_cast<char*>(variable.c_str()));
  unsetenv("PONDERIXPORTLIST");
  unsetenv("PONDERIXPORT");
  unsetenv("PONDERIXBAUDRATE");
  if (!freopen("/dev/null", "r", stdin) || !freopen(output.c_str(), "w", stdout) ||
      dup2(fileno(stdout), 2) < 0) {
    _exit(126);
  }
  std::vector<char*> argv;
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

std::vector<std::string> Words(const std::string& program, const std::string& arguments) {
  std::vector<std::string> words{program};
  std::istringstream in(arguments);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

class Bench {
 public:
  Bench(Programs programs, fs::path work)
      : programs_(std::move(programs)), work_(std::move(work)) {}

  // Makes the station's folder, scenario, job and environment; the program
  // copy in `bin` decides which LogFiles folder its runs share.
  Station Prepare(int port, Kind kind, const fs::path& bin) {
    Station s;
    s.port = port;
    s.kind = kind;
    s.dir = work_ / ("station" + std::to_string(port));
    fs::remove_all(s.dir);
    fs::create_directories(s.dir);
    WriteFile(s.dir / "units.scn", Scenario(s));
    const std::string p = std::to_string(port);
    switch (kind) {
      case Kind::kDirect:
        s.arguments = "-y -f -r 921600 " + p;
        break;
      case Kind::kNetwork:
        s.arguments = "-y -r 921600 " + p;
        break;
      case Kind::kBlankChip:
        WriteFile(s.dir / "job.ini",
                  "KelManufacture=1\r\nKelBootEXE=" + programs_.bootTool + "\r\nProgram=1\r\n");
        s.arguments = "-y -r 921600 " + (s.dir / "job.ini").string() + " " + p;
        break;
      case Kind::kExtract:
        s.arguments = "-x -y " + p;
        break;
    }
    const fs::path shared = work_ / "shared";
    s.environment = {"HOME=" + shared.string(),
                     "XDG_CONFIG_HOME=" + (shared / "config").string(),
                     "PONDERIXCOMDIR=" + (shared / "com").string(),
                     "PONDERIXLOCKDIR=" + (shared / "locks").string(),
                     "TEMP=" + (shared / "tmp").string(),
                     "COMPUTERNAME=STATIONS-PC",
                     "USERNAME=line",
                     "KELBOOT_STAND_IN_CONTROL=" + (s.dir / "control").string(),
                     "KELBOOT_STAND_IN_BOOT_IMAGE=" + (work_ / "boot.bin").string()};
    program_[port] = (bin / "KelUpdater").string();
    return s;
  }

  bool StartSimulator(Station& s) {
    const fs::path com = work_ / "shared" / "com";
    const fs::path link = com / ("com" + std::to_string(s.port));
    fs::remove(link);
    s.simPid = Spawn({programs_.simulator, "--scenario", (s.dir / "units.scn").string(), "--comdir",
                      com.string(), "--line-model", "--dump", (s.dir / "dump").string(),
                      "--control", (s.dir / "control").string(), "--exit-after-idle", "900"},
                     {}, s.dir / "sim.log");
    for (int i = 0; i < 400 && !fs::exists(link); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (!fs::exists(link)) s.problems.push_back("the simulator did not serve its port");
    return fs::exists(link);
  }

  void StopSimulator(Station& s) {
    if (s.simPid <= 0) return;
    kill(s.simPid, SIGTERM);
    rusage usage{};
    if (wait4(s.simPid, nullptr, 0, &usage) == s.simPid) simCpuSeconds_ += CpuSeconds(usage);
    s.simPid = 0;
  }

  void Start(Station& s) {
    s.start = Clock::now();
    s.runPid = Spawn(Words(program_[s.port], s.arguments), s.environment, s.dir / "run.txt");
  }

  // Waits for every started run; each one's time ends when it is reaped.
  void WaitAll(std::vector<Station*> running) {
    while (!running.empty()) {
      int status = 0;
      rusage usage{};
      const pid_t pid = wait4(-1, &status, 0, &usage);
      if (pid < 0) break;
      for (auto it = running.begin(); it != running.end(); ++it) {
        Station& s = **it;
        if (s.runPid != pid) continue;
        s.seconds = std::chrono::duration<double>(Clock::now() - s.start).count();
        s.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        cpuSeconds_ += CpuSeconds(usage);
        peakRssKib_ = std::max(peakRssKib_, static_cast<long>(usage.ru_maxrss));
        running.erase(it);
        break;
      }
    }
  }

  // What the station's unit holds, and what its run printed.
  void CheckUnits(Station& s) {
    const std::string run = ReadFile(s.dir / "run.txt");
    if (s.exitCode != 0) s.problems.push_back("exit code " + std::to_string(s.exitCode));
    auto expect = [&](bool good, const std::string& what) {
      if (!good) s.problems.push_back(what);
    };
    switch (s.kind) {
      case Kind::kDirect:
        expect(Holds(s, "kt3", "soft_kt3_lpc1768"), "the KT3's flash lacks the new software");
        expect(State(s, "kt3", "software") == "6.10r57", "the KT3 does not run 6.10r57");
        break;
      case Kind::kNetwork:
        expect(Holds(s, "behind", "soft_kt5_lpc4337"), "the KT5 behind lacks the new software");
        expect(State(s, "behind", "software") == "6.10r57", "the KT5 behind does not run 6.10r57");
        break;
      case Kind::kBlankChip:
        expect(Holds(s, "blank", "boot_kt3_lpc1768"), "the chip lacks the boot loader");
        expect(Holds(s, "blank", "soft_kt3_lpc1768"), "the chip lacks the software");
        expect(State(s, "blank", "role") == "application", "the chip does not run its software");
        break;
      case Kind::kExtract:
        for (int kind = 0; kind <= kDebugLogs; ++kind) {
          expect(ExtractedText(s).find(UnitLog(s.port, kind, "\r\n")) != std::string::npos,
                 "log " + std::to_string(kind) + " was not extracted whole");
        }
        break;
    }
    const bool success =
        s.kind == Kind::kExtract
            ? run.find("Saving to") != std::string::npos
            : run.find("Success: all operations are complete") != std::string::npos;
    expect(success, "the run did not report success");
  }

  // Each run's log: exactly one log whose header is this run's command line,
  // with one header and the run's closing line in it.
  void CheckLogs(std::vector<Station>& stations, const fs::path& bin) {
    std::map<std::string, std::vector<std::string> > logsByHeader;
    for (const auto& entry : fs::directory_iterator(bin / "LogFiles")) {
      if (entry.path().extension() != ".log") continue;
      const std::string text = ReadFile(entry.path());
      logsByHeader[text.substr(0, text.find("\r\n"))].push_back(text);
    }
    for (Station& s : stations) {
      const auto found = logsByHeader.find(program_[s.port] + " " + s.arguments + " ");
      if (found == logsByHeader.end() || found->second.size() != 1) {
        s.problems.push_back("not exactly one log of this run");
        continue;
      }
      const std::string& log = found->second.front();
      size_t headers = 0;
      for (size_t at = log.find("COMPUTERNAME="); at != std::string::npos;
           at = log.find("COMPUTERNAME=", at + 1)) {
        ++headers;
      }
      const char* closing =
          s.kind == Kind::kExtract ? "Saving to" : "Success: all operations are complete";
      if (headers != 1 || log.find(closing) == std::string::npos) {
        s.problems.push_back("its log is not whole");
      }
    }
  }

  // One history row per updated unit, whole, naming the station's port.
  void CheckHistory(std::vector<Station>& stations, const fs::path& bin) {
    std::istringstream rows(ReadFile(bin / "LogFiles" / "UpdateHistory.csv"));
    std::map<std::string, int> rowsOfPort;
    std::map<std::string, int> failedOfPort;
    std::string line;
    std::getline(rows, line);  // the header
    while (std::getline(rows, line)) {
      std::vector<std::string> fields;
      std::istringstream in(line);
      for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
      if (fields.size() != 15) {
        rowsOfPort["malformed"]++;
        continue;
      }
      rowsOfPort[fields[3]]++;
      if (fields[12] == "failed" || fields[12] == "refused") failedOfPort[fields[3]]++;
    }
    if (rowsOfPort.count("malformed") != 0) stations.front().problems.push_back("malformed rows");
    for (Station& s : stations) {
      const std::string port = "COM" + std::to_string(s.port);
      if (rowsOfPort[port] != HistoryRowsOf(s.kind) || failedOfPort[port] != 0) {
        s.problems.push_back("its history rows are not one whole row per unit");
      }
    }
  }

  double cpuSeconds() const { return cpuSeconds_; }
  double simCpuSeconds() const { return simCpuSeconds_; }
  void ResetCounters() {
    cpuSeconds_ = simCpuSeconds_ = 0;
    peakRssKib_ = 0;
  }
  long peakRssKib() const { return peakRssKib_; }

 private:
  std::string State(const Station& s, const std::string& unit, const std::string& key) {
    const std::string text = ReadFile(s.dump() / unit / "unit.txt");
    const size_t at = text.find(key + " = ");
    if (at == std::string::npos) return "";
    const size_t from = at + key.size() + 3;
    return text.substr(from, text.find('\n', from) - from);
  }

  bool Holds(const Station& s, const std::string& unit, const char* name) {
    const kel::ImageRef* image = kel::CatalogueImage(name);
    kel::RecordImage records;
    if (image == nullptr || !records.Parse(image->bytes, image->size)) return false;
    for (const kel::ImageRecord& r : records.records()) {
      const uint32_t base = r.address >= 0x1A000000 ? (r.address & 0xFF000000) : 0;
      char bank[32];
      std::snprintf(bank, sizeof bank, "flash-%08X.bin", base);
      const std::string flash = ReadFile(s.dump() / unit / bank);
      const size_t at = r.address - base;
      if (at + r.length > flash.size() ||
          flash.compare(at, r.length, reinterpret_cast<const char*>(r.data), r.length) != 0) {
        return false;
      }
    }
    return true;
  }

  // The extracted files of the station's unit (named after its serial).
  std::string ExtractedText(const Station& s) {
    std::string text;
    const fs::path folder = fs::path(program_.at(s.port)).parent_path() / "PonderixLogFiles";
    if (!fs::exists(folder)) return text;
    const std::string serial = " " + std::to_string(s.serial()) + ".txt";
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name.size() > serial.size() &&
          name.compare(name.size() - serial.size(), serial.size(), serial) == 0) {
        text += ReadFile(entry.path());
      }
    }
    return text;
  }

  Programs programs_;
  fs::path work_;
  std::map<int, std::string> program_;
  double cpuSeconds_ = 0;
  double simCpuSeconds_ = 0;
  long peakRssKib_ = 0;
};

std::string Beside(const char* self, const char* name) {
  return (fs::absolute(self).parent_path() / name).string();
}

bool CopyProgram(const std::string& from, const fs::path& bin) {
  fs::create_directories(bin);
  std::error_code error;
  fs::copy_file(from, bin / "KelUpdater", fs::copy_options::overwrite_existing, error);
  return !error;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 8;
  bool quick = false;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--stations" && i + 1 < argc) count = std::max(1, std::atoi(argv[++i]));
    if (arg == "--quick") quick = true;
    if (arg == "--keep") keep = true;
  }
  const Programs programs{Beside(argv[0], "KelUpdater"), Beside(argv[0], "ponderix-sim"),
                          Beside(argv[0], "kel-boot-stand-in")};
  const bool haveBootTool = fs::exists(programs.bootTool);
  if (!fs::exists(programs.updater) || !fs::exists(programs.simulator)) {
    std::printf("stations-bench: KelUpdater or ponderix-sim missing beside %s\n", argv[0]);
    return 1;
  }
  char folder[] = "/tmp/stations-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  const fs::path work = folder;
  for (const char* sub : {"shared/com", "shared/locks", "shared/tmp", "shared/config"}) {
    fs::create_directories(work / sub);
  }
  const kel::EmbeddedBlob* boot = kel::FindEmbeddedBlob("boot_kt3_lpc1768");
  if (boot != nullptr) {
    WriteFile(work / "boot.bin", std::string(reinterpret_cast<const char*>(boot->begin),
                                             static_cast<size_t>(boot->end - boot->begin)));
  }
  Bench bench(programs, work);

  // The mix, station by station; without the stand-in boot tool (a build
  // without tests) its stations update directly instead.
  auto kindOf = [&](int index) {
    const Kind kind = kKinds[index % 4];
    return kind == Kind::kBlankChip && !haveBootTool ? Kind::kDirect : kind;
  };

  // Each kind alone first, on ports after the stations', with a program
  // copy of its own so that its logs stay apart.
  std::map<Kind, double> aloneSeconds;
  if (!quick) {
    const fs::path aloneBin = work / "alone-bin";
    if (!CopyProgram(programs.updater, aloneBin)) return 1;
    for (int i = 0; i < std::min(count, 4); ++i) {
      Station s = bench.Prepare(count + 1 + i, kindOf(i), aloneBin);
      if (bench.StartSimulator(s)) {
        bench.Start(s);
        bench.WaitAll({&s});
      }
      bench.StopSimulator(s);
      if (s.exitCode != 0) {
        std::printf("stations-bench alone run %s failed (exit code %d, see %s)\n", KindName(s.kind),
                    s.exitCode, s.dir.c_str());
        keep = true;
      }
      aloneSeconds[s.kind] = s.seconds;
    }
  }

  bench.ResetCounters();  // the figures are the concurrent runs'
  const fs::path bin = work / "bin";
  if (!CopyProgram(programs.updater, bin)) return 1;
  std::vector<Station> stations;
  for (int i = 0; i < count; ++i) stations.push_back(bench.Prepare(i + 1, kindOf(i), bin));
  for (Station& s : stations) bench.StartSimulator(s);
  std::vector<Station*> running;
  for (Station& s : stations) {
    if (!s.problems.empty()) continue;
    bench.Start(s);
    running.push_back(&s);
  }
  bench.WaitAll(running);
  // Restarted units apply their update files before their state is taken.
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  for (Station& s : stations) bench.StopSimulator(s);

  for (Station& s : stations) bench.CheckUnits(s);
  bench.CheckLogs(stations, bin);
  bench.CheckHistory(stations, bin);

  int ok = 0;
  double worst = 0;
  for (const Station& s : stations) {
    const double alone = aloneSeconds.count(s.kind) != 0 ? aloneSeconds[s.kind] : 0;
    const double ratio = alone > 0 ? s.seconds / alone : 0;
    worst = std::max(worst, ratio);
    std::printf("stations-bench-run port=COM%d job=%s s=%.2f alone_s=%.2f ratio=%.3f %s\n", s.port,
                KindName(s.kind), s.seconds, alone, ratio, s.problems.empty() ? "ok" : "FAILED");
    for (const std::string& problem : s.problems) std::printf("  %s\n", problem.c_str());
    if (s.problems.empty()) ++ok;
  }
  char worstText[32] = "na";
  if (!quick) std::snprintf(worstText, sizeof worstText, "%.3f", worst);
  std::printf(
      "stations-bench stations=%d ok=%d failed=%d worst_ratio=%s cpu_s=%.2f peak_rss_mb=%.1f "
      "sim_cpu_s=%.2f\n",
      count, ok, count - ok, worstText, bench.cpuSeconds(),
      static_cast<double>(bench.peakRssKib()) / 1024.0, bench.simCpuSeconds());
  if (ok != count) keep = true;
  if (keep) {
    std::printf("stations-bench work folder: %s\n", folder);
  } else {
    fs::remove_all(work);
  }
  return ok == count ? 0 : 1;
}

#endif
