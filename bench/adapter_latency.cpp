// What a USB serial adapter's latency timer costs the updater: whole runs
// with the updater's own code against simulated units behind a modelled
// adapter (bytes from the units reach the program when a 62-byte packet
// fills or the timer runs out), with the simulator's line and unit time,
// in virtual time, at 115200 baud programming speed, with the timer at 1
// ms (what the program asks of the driver on Linux) and at 16 ms (the
// common adapters' default). One line per transport and timer:
//
//   adapter-latency transport=T latency_ms=L s=S line_s=B ratio=S/B
//
// The transports are the phases of those runs: one exchange per 128-byte
// record (direct: the flash programmer's download into the boot loader,
// write memory 0x1020 and program flash 0x1040; a whole update of an LPC
// unit writes its software in 8 KiB records), the KT3's software in 8 KiB
// records (large, 0x1042), windowed (0x1041, under -o), in buffered chunks
// through a test jig (buffered, 0x1038 and 0x103A), and the update files
// of the demo network's field update in windows of file blocks (file
// windows, "H" blocks); then the whole direct update of the KT3
// (update-direct, from the first request to the closing line, restart and
// reconnection included) and the whole field update (update-field). s is
// the virtual time from a phase's first request to its last reply; line_s
// is the least time the line allows for the phase's frames: both
// directions added up for exchanges that wait for their reply, the busier
// direction alone for the transports that keep requests in flight.

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/whole_update.h"
#include "platform/memory_serial.h"
#include "platform/virtual_clock.h"
#include "sim/adapter_model.h"
#include "sim/line_timing.h"
#include "sim/memory_peer.h"
#include "sim/scenario.h"
#include "sim/sim_network.h"
#include "unit/port_search.h"
#include "unit/rpc_identification.h"
#include "unit/unit_connection.h"
#include "update/field_update.h"
#include "update/manufacturing_update.h"
#include "update/production_target.h"

namespace {

constexpr uint32_t kLatencies[] = {1, 16};
constexpr int32_t kProgrammingBaud = 115200;

// A KT3 (LPC1768) at 5.90: its software and files are written directly.
// With CTS raised, -o makes the transfers windowed.
std::string Kt3Scenario(bool cts) {
  return std::string(kel::bench::kLineModelPort) +
         "[unit kt3]\nplace = connected\ncard = 648\ncircuit = 1\nsoftware = 5.90r10\n"
         "modbus = 4\nboot-loader = 4r18\nbuffer-size = 128\nprogrammer-buffer-size = 8192\n" +
         (cts ? "cts = high\n" : "");
}

// The same KT3 on a KJ3 test jig's second port, reached through its proxy.
std::string JigScenario() {
  return std::string(kel::bench::kLineModelPort) +
         "[unit kj3]\nplace = connected\njig = yes\njig-port = 2\nproxy-baud = 115200\n"
         "card = 652\ncircuit = 1\nsoftware = 6.10r57\nmodbus = 1\nboot-loader = 4r18\n"
         "[unit jig-display]\nplace = network\ncard = 653\ncircuit = 2\nsoftware = 6.10r57\n"
         "modbus = 60\n"
         "[unit kt3]\nplace = jig-port\ncard = 648\ncircuit = 1\nsoftware = 5.90r10\nmodbus = 7\n"
         "boot-loader = 4r18\nbuffer-size = 8192\nbaud = 115200\n";
}

// The kind of request a frame on the program's line is, by its service and
// command: [0xF1 length] [jig "G" ">" port size] address service command...
std::string KindOf(const std::vector<uint8_t>& wire) {
  size_t at = !wire.empty() && wire[0] == 0xF1 ? 2 : 0;
  if (wire.size() >= at + 5 && wire[at + 1] == 0x47 &&
      (wire[at + 2] == 0x3E || wire[at + 2] == 0x3F) && wire[at + 4] + at + 5 + 2 == wire.size()) {
    at += 5;  // through the jig's proxy
  }
  if (wire.size() < at + 4) return {};
  if (wire[at + 1] == 0x48) return "file-windows";
  if (wire[at + 1] != 0x45 || wire[at + 2] != 0x10) return {};
  switch (wire[at + 3]) {
    case 0x20:
    case 0x40:
      return "direct";
    case 0x42:
      return "large";
    case 0x41:
      return "windowed";
    case 0x38:
    case 0x3A:
      return "buffered";
  }
  return {};
}

// Each phase's first request, last reply and line time either way, from the
// simulator's record of every frame.
struct Phases {
  struct Phase {
    uint32_t first = 0, last = 0;
    uint64_t toUnitUs = 0, fromUnitUs = 0;
    bool seen = false;
  };
  std::map<std::string, Phase> phases;
  std::map<uint64_t, std::string> kindOfRequest;
  uint64_t allUs = 0;  // every frame of the run, both ways

  static void Add(const kel::sim::TranscriptEntry& entry, void* context) {
    using Direction = kel::sim::TranscriptEntry::Direction;
    if (entry.direction == Direction::kLost) return;
    auto* self = static_cast<Phases*>(context);
    const uint64_t us = kel::sim::LineTimeUs(entry.bytes.size(),
                                             kel::sim::UnitLine(entry.baudRate, entry.evenParity));
    self->allUs += us;
    std::string kind;
    if (entry.direction == Direction::kToUnit) {
      kind = KindOf(entry.bytes);
      if (!kind.empty()) self->kindOfRequest[entry.request] = kind;
    } else {
      const auto found = self->kindOfRequest.find(entry.request);
      if (found != self->kindOfRequest.end()) kind = found->second;
    }
    if (kind.empty()) return;
    Phase& phase = self->phases[kind];
    if (!phase.seen) phase.first = entry.time;
    phase.seen = true;
    phase.last = entry.time;
    (entry.direction == Direction::kToUnit ? phase.toUnitUs : phase.fromUnitUs) += us;
  }
};

enum class Job { kDirect, kOverlapped, kThroughJig, kField };

struct RunResult {
  bool done = false;
  double seconds = 0;
  Phases phases;
};

RunResult Run(const std::string& text, Job job, uint32_t latencyMs) {
  RunResult result;
  kel::sim::Scenario scenario;
  std::string error;
  if (!kel::sim::ParseScenario(text, scenario, error)) {
    std::fprintf(stderr, "scenario: %s\n", error.c_str());
    return result;
  }
  kel::VirtualClock clock;
  kel::MemorySerialPorts ports(clock);
  kel::sim::SimNetwork network;
  kel::sim::BuildNetwork(scenario, network);
  network.transcript().SetLimit(16);
  network.transcript().SetListener(&Phases::Add, &result.phases);
  kel::sim::MemoryPeer peer(network, ports.AddLine(1));
  peer.SetAdapter(kel::sim::AdapterSettings{latencyMs, 62});

  kel::bench::SessionUpdater updater(clock, ports, kProgrammingBaud);
  updater.options.overlapped = job == Job::kOverlapped;
  const uint32_t t0 = clock.Ticks();
  try {
    kel::ConnectUnit(updater.link, updater.unit);
    if (!kel::ConnectToUnit(updater.link, updater.unit)) throw kel::ExitRequested{1};
    kel::ReadExtendedInfo(updater.link, updater.unit);
    kel::ReadAdvancedInfo(updater.link, updater.unit);
    if (job == Job::kThroughJig) {
      kel::ProductionTarget target;
      target.named = true;
      target.unitType = kel::unitTypeTransmitter;
      target.mcuA = target.mcuB = kel::mcuLPC1768;
      kel::ManufacturingUpdateUnit(updater.session, updater.unit, target);
    } else {
      kel::FieldUpdateUnit(updater.session, updater.unit, true, job != Job::kField);
    }
    result.done =
        updater.console.output().find("Success: all operations are complete") != std::string::npos;
  } catch (const kel::ExitRequested&) {
  }
  result.seconds = (clock.Ticks() - t0) / 1000.0;
  network.transcript().SetListener(nullptr, nullptr);
  if (!result.done) std::fprintf(stderr, "%s\n", updater.console.output().c_str());
  return result;
}

void Print(const std::string& transport, uint32_t latencyMs, double seconds, uint64_t lineUs) {
  const double line = static_cast<double>(lineUs) / 1e6;
  std::printf("adapter-latency transport=%s latency_ms=%u s=%.3f line_s=%.3f ratio=%.3f\n",
              transport.c_str(), latencyMs, seconds, line, line > 0 ? seconds / line : 0.0);
  std::fflush(stdout);
}

bool PrintPhase(const RunResult& run, const std::string& kind, uint32_t latencyMs) {
  const auto found = run.phases.phases.find(kind);
  if (!run.done || found == run.phases.phases.end()) {
    std::printf("adapter-latency transport=%s latency_ms=%u failed\n", kind.c_str(), latencyMs);
    return false;
  }
  const Phases::Phase& phase = found->second;
  // Requests kept in flight overlap the two directions: the busier one is
  // the floor there.
  const bool inFlight = kind == "windowed" || kind == "buffered" || kind == "file-windows";
  const uint64_t lineUs =
      inFlight ? std::max(phase.toUnitUs, phase.fromUnitUs) : phase.toUnitUs + phase.fromUnitUs;
  Print(kind, latencyMs, (phase.last - phase.first) / 1000.0, lineUs);
  return true;
}

}  // namespace

int main() {
  bool ok = true;
  for (uint32_t latency : kLatencies) {
    const RunResult large = Run(Kt3Scenario(false), Job::kDirect, latency);
    const RunResult windowed = Run(Kt3Scenario(true), Job::kOverlapped, latency);
    const RunResult buffered = Run(JigScenario(), Job::kThroughJig, latency);
    const RunResult field = Run(kel::bench::DemoScenario(), Job::kField, latency);
    ok = PrintPhase(large, "direct", latency) && ok;
    ok = PrintPhase(large, "large", latency) && ok;
    ok = PrintPhase(windowed, "windowed", latency) && ok;
    ok = PrintPhase(buffered, "buffered", latency) && ok;
    ok = PrintPhase(field, "file-windows", latency) && ok;
    Print("update-direct", latency, large.seconds, large.phases.allUs);
    Print("update-field", latency, field.seconds, field.phases.allUs);
  }
  return ok ? 0 : 1;
}
