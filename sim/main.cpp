// ponderix-sim: serves simulated units on pseudo-terminals so that the
// updater (or a service engineer) can talk to them as COM ports.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/signals.h"
#include "sim/faults.h"
#include "sim/pty_server.h"
#include "sim/scenario.h"
#include "sim/state_dump.h"

namespace {

constexpr char kUsage[] =
    "usage: ponderix-sim --scenario FILE [--scenario FILE ...] --comdir DIR [--port N]\n"
    "                    [--wineprefix DIR] [--exit-after-idle SECONDS] [--transcript FILE]\n"
    "                    [--line-model] [--adapter latency-ms=N,packet=N] [--fault RULE ...]\n"
    "                    [--dump DIR] [--control FILE]\n";

struct Arguments {
  std::vector<std::string> scenarios;
  std::string comDir;
  std::string winePrefix;
  std::string transcript;
  std::string dumpDir;
  std::string controlFile;
  std::vector<kel::sim::FaultRule> faults;
  int port = 0;
  unsigned long idleSeconds = 0;
  bool lineModel = false;
  bool adapter = false;
  kel::sim::AdapterSettings adapterSettings;
};

bool ParseNumber(const char* text, unsigned long max, unsigned long& out) {
  char* end = nullptr;
  const unsigned long v = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0' || text[0] == '-' || v > max) return false;
  out = v;
  return true;
}

bool ParseArguments(int argc, char** argv, Arguments& args, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char*& out) {
      if (i + 1 >= argc) {
        error = a + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    const char* v = nullptr;
    unsigned long n = 0;
    if (a == "--scenario") {
      if (!value(v)) return false;
      args.scenarios.push_back(v);
    } else if (a == "--comdir") {
      if (!value(v)) return false;
      args.comDir = v;
    } else if (a == "--wineprefix") {
      if (!value(v)) return false;
      args.winePrefix = v;
    } else if (a == "--transcript") {
      if (!value(v)) return false;
      args.transcript = v;
    } else if (a == "--port") {
      if (!value(v)) return false;
      if (!ParseNumber(v, 255, n) || n == 0) {
        error = "--port needs a number from 1 to 255";
        return false;
      }
      args.port = static_cast<int>(n);
    } else if (a == "--exit-after-idle") {
      if (!value(v)) return false;
      if (!ParseNumber(v, 86400, n)) {
        error = "--exit-after-idle needs seconds from 0 to 86400";
        return false;
      }
      args.idleSeconds = n;
    } else if (a == "--line-model") {
      args.lineModel = true;
    } else if (a == "--adapter") {
      if (!value(v)) return false;
      std::string why;
      if (!kel::sim::ParseAdapterSettings(v, args.adapterSettings, why)) {
        error = "--adapter " + std::string(v) + ": " + why;
        return false;
      }
      args.adapter = true;
    } else if (a == "--fault") {
      if (!value(v)) return false;
      kel::sim::FaultRule rule;
      std::string why;
      if (!kel::sim::ParseFaultRule(v, rule, why)) {
        error = "--fault " + std::string(v) + ": " + why;
        return false;
      }
      args.faults.push_back(rule);
    } else if (a == "--dump") {
      if (!value(v)) return false;
      args.dumpDir = v;
    } else if (a == "--control") {
      if (!value(v)) return false;
      args.controlFile = v;
    } else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else {
      error = "unknown argument " + a;
      return false;
    }
  }
  if (args.scenarios.empty()) {
    error = "no --scenario given";
    return false;
  }
  if (args.comDir.empty()) {
    error = "no --comdir given";
    return false;
  }
  return true;
}

// Writes each port's units into DIR/comN (see state_dump.h), as they are
// now: the server may have stopped before it woke for a restart now due.
bool Dump(kel::sim::PtyServer& server, const std::string& dir) {
  const uint32_t now = kel::SystemClock().Ticks();
  bool good = true;
  for (size_t i = 0; i < server.portCount(); ++i) {
    std::string error;
    const std::string folder = dir + "/com" + std::to_string(server.portNumber(i));
    if (!kel::sim::DumpNetworkAt(server.network(i), now, folder, error)) {
      std::fprintf(stderr, "ponderix-sim: %s\n", error.c_str());
      good = false;
    }
  }
  return good;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  std::string error;
  if (!ParseArguments(argc, argv, args, error)) {
    std::fprintf(stderr, "ponderix-sim: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  kel::InstallStopSignals();
  kel::sim::PtyServer server(kel::SystemClock());
  std::FILE* transcript = nullptr;
  if (!args.transcript.empty()) {
    transcript = std::fopen(args.transcript.c_str(), "w");
    if (!transcript) {
      std::fprintf(stderr, "ponderix-sim: cannot write %s\n", args.transcript.c_str());
      return 2;
    }
    server.SetTranscriptFile(transcript);
  }
  for (size_t i = 0; i < args.scenarios.size(); ++i) {
    kel::sim::Scenario scenario;
    if (!kel::sim::LoadScenario(args.scenarios[i], scenario, error)) {
      std::fprintf(stderr, "ponderix-sim: %s\n", error.c_str());
      return 2;
    }
    if (args.lineModel) scenario.lineModel = true;
    if (args.adapter) {
      scenario.adapter = true;
      scenario.adapterSettings = args.adapterSettings;
    }
    // Faults from the command line apply to every port, after the scenario's own.
    scenario.faults.insert(scenario.faults.end(), args.faults.begin(), args.faults.end());
    // --port names the first scenario's port; later ones keep their own.
    const int number = i == 0 && args.port != 0 ? args.port : scenario.portNumber;
    if (!server.AddPort(number, scenario, args.comDir, args.winePrefix, error)) {
      std::fprintf(stderr, "ponderix-sim: %s\n", error.c_str());
      return 2;
    }
  }
  server.SetControlFile(args.controlFile);
  for (const auto& line : server.Describe()) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  server.Run(static_cast<uint32_t>(args.idleSeconds * 1000));
  server.RemoveLinks();
  if (transcript) std::fclose(transcript);
  // At the end of the run, whether idle, stopped by a signal or done.
  const bool dumped = args.dumpDir.empty() || Dump(server, args.dumpDir);
  std::printf("ponderix-sim: stopped\n");
  return dumped ? 0 : 1;
}
