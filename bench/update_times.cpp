// Whole updates with the updater's own update code against simulated units
// with the simulator's line and unit time, in virtual time: a direct update
// of each LPC unit type (software 5.90, so boot loader kept, software and
// files written) and the field update of the demo network (a KD4 display
// with two KT5 transmitters, all by update files and a system restart), at
// 115200 and 921600 baud programming speed. One line per run:
//
//   update-bench unit=NAME baud=N achieved_s=X bound_s=Y ratio=X/Y cpu_s=Z
//   frames=N clock=virtual
//
// achieved_s is the virtual time from the first request to the closing
// line (restarts, the 1000 ms pause, reconnection and the units' start-up
// included); bound_s is the least time the line allows for the same run:
// the line time of every frame either way at the speed it travelled, added
// up, as exchanges that wait for their reply need it. Transfers that keep
// blocks in flight (file windows, update files) overlap the two directions
// and can beat it: busier_line_s, the busier direction alone, is the floor
// for those. cpu_s is the processor time of the whole run (updater and simulator
// in one thread).
//
// With --real the demo network's field update also runs in real time: the
// program KelUpdater beside this one updates the units the simulator serves
// on a pseudo-terminal with its line model, and its own CPU time and peak
// memory are printed (clock=real).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "bench/whole_update.h"
#include "files/remote_file_access.h"
#include "flash/boot_tool_programmer.h"
#include "flash/image_catalogue.h"
#include "flash/transfer_state.h"
#include "link/comm_port.h"
#include "link/packet_layer.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/memory_serial.h"
#include "platform/process_exit.h"
#include "platform/registry.h"
#include "platform/virtual_clock.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "sim/line_timing.h"
#include "sim/memory_peer.h"
#include "sim/pty_server.h"
#include "sim/scenario.h"
#include "sim/sim_network.h"
#include "unit/port_search.h"
#include "unit/rpc_identification.h"
#include "unit/unit_connection.h"
#include "update/field_update.h"
#include "update/update_session.h"

#if !defined(_WIN32)
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

constexpr int32_t kBauds[] = {115200, 921600};

// A unit of each LPC type at 5.90: its card and circuit.
struct DirectUnit {
  const char* name;
  const char* keys;
};
constexpr DirectUnit kDirectUnits[] = {
    {"kd3-lpc2478", "card = 647\ncircuit = 1\n"},
    {"kd3-lpc4357", "card = 647\ncircuit = 6\n"},
    {"kd4-lpc4337", "card = 653\n"},
    {"kt3-lpc1768", "card = 648\ncircuit = 1\n"},
    {"kt3-lpc4078", "card = 648\ncircuit = 6\n"},
    {"kt5-lpc4337", "card = 659\n"},
    {"kr3-lpc1768", "card = 649\n"},
};

std::string DirectScenario(const DirectUnit& unit) {
  return std::string(kel::bench::kLineModelPort) + "[unit " + unit.name + "]\nplace = connected\n" +
         unit.keys +
         "software = 5.90r10\nmodbus = 4\nboot-loader = 4r18\nbuffer-size = 128\n"
         "programmer-buffer-size = 8192\n";
}

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Adds up the line time of every frame the units received or sent.
struct LineBound {
  uint64_t us = 0;
  uint64_t toUnitUs = 0;
  uint64_t frames = 0;
  static void Add(const kel::sim::TranscriptEntry& entry, void* context) {
    if (entry.direction == kel::sim::TranscriptEntry::Direction::kLost) return;
    auto* self = static_cast<LineBound*>(context);
    const uint64_t us = kel::sim::LineTimeUs(entry.bytes.size(),
                                             kel::sim::UnitLine(entry.baudRate, entry.evenParity));
    self->us += us;
    if (entry.direction == kel::sim::TranscriptEntry::Direction::kToUnit) self->toUnitUs += us;
    ++self->frames;
  }
  // The busier direction alone: what even fully overlapped traffic needs.
  uint64_t BusierUs() const { return std::max(toUnitUs, us - toUnitUs); }
};

bool Run(const std::string& name, const std::string& text, int32_t baud, bool firstUnitOnly) {
  kel::sim::Scenario scenario;
  std::string error;
  if (!kel::sim::ParseScenario(text, scenario, error)) {
    std::fprintf(stderr, "scenario: %s\n", error.c_str());
    return false;
  }
  kel::VirtualClock clock;
  kel::MemorySerialPorts ports(clock);
  kel::sim::SimNetwork network;
  kel::sim::BuildNetwork(scenario, network);
  LineBound bound;
  network.transcript().SetLimit(16);
  network.transcript().SetListener(&LineBound::Add, &bound);
  kel::MemorySerialLine& line = ports.AddLine(1);
  kel::sim::MemoryPeer peer(network, line);

  kel::bench::SessionUpdater updater(clock, ports, baud);
  const double cpu0 = ProcessCpuSeconds();
  const uint32_t t0 = clock.Ticks();
  bool done = false;
  try {
    kel::ConnectUnit(updater.link, updater.unit);
    if (!kel::ConnectToUnit(updater.link, updater.unit)) throw kel::ExitRequested{1};
    kel::ReadExtendedInfo(updater.link, updater.unit);
    kel::ReadAdvancedInfo(updater.link, updater.unit);
    kel::FieldUpdateUnit(updater.session, updater.unit, true, firstUnitOnly);
    done =
        updater.console.output().find("Success: all operations are complete") != std::string::npos;
  } catch (const kel::ExitRequested&) {
  }
  const double achieved = (clock.Ticks() - t0) / 1000.0;
  const double cpu = ProcessCpuSeconds() - cpu0;
  network.transcript().SetListener(nullptr, nullptr);
  if (!done) {
    std::printf("update-bench unit=%s baud=%d failed\n%s\n", name.c_str(), baud,
                updater.console.output().c_str());
    return false;
  }
  const double boundS = static_cast<double>(bound.us) / 1e6;
  std::printf(
      "update-bench unit=%s baud=%d achieved_s=%.3f bound_s=%.3f ratio=%.3f cpu_s=%.3f "
      "busier_line_s=%.3f frames=%llu clock=virtual\n",
      name.c_str(), baud, achieved, boundS, achieved / boundS, cpu,
      static_cast<double>(bound.BusierUs()) / 1e6, static_cast<unsigned long long>(bound.frames));
  std::fflush(stdout);
  return true;
}

// The program KelUpdater beside this one.
std::string UpdaterBeside(const char* self) {
  std::string path = self;
  const size_t slash = path.find_last_of('/');
  return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/KelUpdater";
}

bool RealRun(const std::string& program) {
#if defined(_WIN32)
  (void)program;
  std::printf("update-bench clock=real: no pseudo-terminals on this system\n");
  return true;
#else
  kel::sim::Scenario scenario;
  std::string error;
  if (!kel::sim::ParseScenario(kel::bench::DemoScenario(), scenario, error)) return false;
  char folder[] = "/tmp/update-bench-XXXXXX";
  if (!mkdtemp(folder)) return false;
  kel::sim::PtyServer server(kel::SystemClock());
  if (!server.AddPort(1, scenario, folder, "", error)) {
    std::printf("update-bench clock=real: not measured here (%s)\n", error.c_str());
    rmdir(folder);
    return true;
  }
  std::atomic<bool> stop{false};
  std::thread units([&] {
    while (!stop) server.Step(10);
  });
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    setenv("PONDERIXCOMDIR", folder, 1);
    setenv("HOME", folder, 1);
    if (!freopen("/dev/null", "r", stdin) || !freopen("/dev/null", "w", stdout)) _exit(126);
    execl(program.c_str(), program.c_str(), "-y", "-r", "921600", "1", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  const bool waited = child > 0 && wait4(child, &status, 0, &usage) == child;
  const double achieved =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  stop = true;
  units.join();
  server.RemoveLinks();
  std::string removeLogs = std::string("rm -rf '") + folder + "'";
  if (std::system(removeLogs.c_str()) != 0) return false;
  if (!waited || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::printf("update-bench unit=demo-network clock=real failed (status %d)\n", status);
    return false;
  }
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf(
      "update-bench unit=demo-network baud=921600 achieved_s=%.3f cpu_s=%.3f peak_kib=%ld "
      "clock=real\n",
      achieved, cpu, usage.ru_maxrss);
  return true;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  bool real = false;
  bool virtualRuns = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--real") real = true;
    if (arg == "--real-only") real = true, virtualRuns = false;
  }
  int failures = 0;
  for (int32_t baud : kBauds) {
    if (!virtualRuns) break;
    for (const DirectUnit& unit : kDirectUnits) {
      if (!Run(unit.name, DirectScenario(unit), baud, true)) ++failures;
    }
    if (!Run("demo-network", kel::bench::DemoScenario(), baud, false)) ++failures;
  }
  if (real && !RealRun(UpdaterBeside(argv[0]))) ++failures;
  return failures == 0 ? 0 : 1;
}
