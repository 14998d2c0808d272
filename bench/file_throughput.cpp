// Writes and reads back a 64 KiB file in a simulated unit with the
// updater's own remote file access, in "G" and "H" data blocks, at 115200
// and 921600 baud, with the simulator's line and unit time and in virtual
// time; then times the check of an up-to-date unit's seven files. One line
// per run:
//
//   file-bench transport=G direction=write baud=921600 payload_bytes=N wire_out_bytes=N
//   wire_in_bytes=N bound_s=X achieved_s=Y ratio=Y/X cpu_s=Z clock=virtual
//   file-check baud=921600 files=7 requests=N bound_s=X achieved_s=Y ratio=Y/X cpu_s=Z
//   clock=virtual
//
// achieved_s is the time from creating (opening) the file to its close;
// bound_s is the least time the simulator's model allows for the frames the
// run exchanged: each frame's line time and the unit's time for it, added up
// for exchanges that wait for their reply and overlapped for the data blocks
// and read requests kept in flight. The virtual clock runs in microseconds,
// so the program can act on a reply the moment it arrives. cpu_s is the updater's own processor
// time (the simulator's is left out).

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "bench/timed_peer.h"
#include "files/check_values.h"
#include "files/file_updates.h"
#include "files/remote_file_access.h"
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
#include "sim/scenario.h"
#include "sim/sim_network.h"
#include "sim/unit_timing.h"
#include "unit/link_speed.h"
#include "unit/unit_connection.h"
#include "unit/unit_probe.h"

namespace {

using kel::bench::ThreadCpuSeconds;
using kel::bench::TimedPeer;

using Bytes = std::vector<uint8_t>;

constexpr int32_t kBauds[] = {115200, 921600};
constexpr int32_t kUnitBaud = 115200;  // the unit's own speed
constexpr uint8_t kAddress = 5;
constexpr uint8_t kDrive = 1;
constexpr uint16_t kBenchFile = 0x1E0;
constexpr size_t kFileBytes = 64 * 1024;
constexpr size_t kCheckedFiles = 7;
constexpr size_t kCheckedFileBytes = 2048;

Bytes Pattern(size_t count, uint8_t seed) {
  Bytes bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed + i / 251);
  return bytes;
}

// ---- The model's bound ---------------------------------------------------

// One exchange's way through the model: request on the line, the unit,
// reply on the line. Each stage carries one exchange at a time.
using Path = std::vector<uint64_t>;

uint64_t Serial(const Path& path) {
  uint64_t sum = 0;
  for (uint64_t us : path) sum += us;
  return sum;
}

// The least time exchanges kept in flight together can take: some stage
// carries every one of them, after the first has reached it and before the
// last has passed the stages after it.
uint64_t Pipelined(const std::vector<Path>& run) {
  uint64_t bound = 0;
  if (run.empty()) return bound;
  for (size_t s = 0; s < run.front().size(); ++s) {
    uint64_t total = 0;
    for (size_t k = 0; k < s; ++k) total += run.front()[k];
    for (const Path& p : run) total += p[s];
    for (size_t k = s + 1; k < run.back().size(); ++k) total += run.back()[k];
    bound = std::max(bound, total);
  }
  return bound;
}

// The payload of a frame as on the wire: without the length header and the
// check value.
Bytes Payload(const Bytes& frame) {
  const size_t head = frame.size() >= 4 && frame[0] == 0xF1 ? 2 : 0;
  if (frame.size() < head + 2) return {};
  return Bytes(frame.begin() + static_cast<std::ptrdiff_t>(head), frame.end() - 2);
}

bool KeptInFlight(const Bytes& payload) {
  return payload.size() >= 3 && (payload[1] == 0x47 || payload[1] == 0x48);
}

// The bound for the exchanges in `network`'s transcript: each request with
// the reply to it; file blocks overlapped, the rest one after another.
uint64_t ModelBound(kel::sim::SimNetwork& network, const kel::sim::SimUnit& unit, int32_t baud) {
  using Direction = kel::sim::TranscriptEntry::Direction;
  const kel::SerialConfig line = kel::sim::UnitLine(baud, false);
  std::vector<std::pair<uint64_t, Path>> exchanges;  // by request number
  for (const auto& entry : network.transcript().entries()) {
    if (entry.direction == Direction::kToUnit) {
      const uint64_t request = entry.request;
      exchanges.push_back({request,
                           {kel::sim::LineTimeUs(entry.bytes.size(), line),
                            kel::sim::ProcessingUs(unit, Payload(entry.bytes)), 0}});
      if (KeptInFlight(Payload(entry.bytes))) exchanges.back().second.push_back(1);
    } else if (entry.direction == Direction::kFromUnit) {
      for (auto& [request, path] : exchanges) {
        if (request == entry.request) path[2] = kel::sim::LineTimeUs(entry.bytes.size(), line);
      }
    }
  }
  uint64_t bound = 0;
  std::vector<Path> run;
  for (auto& [request, path] : exchanges) {
    if (path.size() == 4) {
      path.pop_back();
      run.push_back(path);
      continue;
    }
    bound += Pipelined(run) + Serial(path);
    run.clear();
  }
  return bound + Pipelined(run);
}

// ---- The updater's side --------------------------------------------------

// The updater as main sets it up, on COM1, connected to the unit, with its
// output kept quiet.
struct Updater {
  Updater(kel::Clock& clock, kel::SerialPortOpener& ports)
      : out(console, clock, options),
        runtime{options, out, clock, console, env, registry, exit, {}},
        port(runtime, ports) {
    options.portNumber = 1;
    options.yesToPrompts = true;
    out.errorReportLevel = 1;
  }

  bool Connect(int32_t baud) {
    options.initialBaudRate = baud;
    return port.OpenPort() && kel::CheckUnitId(link, unit) && kel::ConnectToUnit(link, unit);
  }

  kel::Options options;
  kel::ScriptedConsole console;
  kel::Output out;
  kel::MapEnvironment env;
  kel::MapRegistry registry;
  kel::ThrowingExit exit;
  kel::Runtime runtime;
  kel::CommPort port;
  kel::ProxySettings proxy;
  kel::PacketLayer packets{runtime, port, proxy};
  kel::LinkState state;
  kel::Link link{runtime, port, packets, state};
  kel::UnitInfo unit;
  kel::RemoteFileAccess files{link};
};

// A KT5 running its application at `baud`, with the simulator's line and
// unit time, the updater connected to it on COM1.
struct Bench {
  explicit Bench(int32_t baud) : baud(baud) {
    if (!built) return;
    network.transcript().SetLimit(1 << 16);
    peer.AttachTimed();
    // Found at its own speed, then switched to the transfer speed as the
    // updater does before moving files.
    ready = updater.Connect(kUnitBaud) &&
            (baud == kUnitBaud || kel::SetUnitSpeed(updater.link, updater.unit, baud)) &&
            updater.port.settings().baudRate == baud;
    if (!ready) {
      std::fprintf(stderr, "not connected at %d (link at %d)\n%s\n", baud,
                   updater.port.settings().baudRate, updater.console.output().c_str());
    }
  }

  static bool Build(kel::sim::SimNetwork& network) {
    const std::string text =
        "[port]\nnumber = 1\nline-model = yes\n[unit u]\nplace = connected\ncard = 659\n"
        "software = 6.10r57\nmodbus = 5\naddress = 5\nserial = 4711\nbaud = " +
        std::to_string(kUnitBaud) + "\n";
    kel::sim::Scenario scenario;
    std::string error;
    if (!kel::sim::ParseScenario(text, scenario, error)) {
      std::fprintf(stderr, "scenario: %s\n", error.c_str());
      return false;
    }
    kel::sim::BuildNetwork(scenario, network);
    return true;
  }

  // Times `job`, the wire bytes and the model's bound for its frames alone.
  template <typename Job>
  bool Measure(Job job, uint64_t& wireOut, uint64_t& wireIn, double& achieved, double& cpu,
               double& bound, size_t& requests) {
    network.transcript().Clear();
    const uint64_t out0 = updater.port.totalSent;
    const uint64_t in0 = updater.port.totalReceived;
    const double cpu0 = ThreadCpuSeconds() - peer.timed.seconds;
    const uint64_t t0 = clock.Micros();
    const bool done = job();
    achieved = static_cast<double>(clock.Micros() - t0) / 1e6;
    cpu = ThreadCpuSeconds() - peer.timed.seconds - cpu0;
    wireOut = updater.port.totalSent - out0;
    wireIn = updater.port.totalReceived - in0;
    bound = static_cast<double>(ModelBound(network, *network.connected(), baud)) / 1e6;
    requests = 0;
    for (const auto& entry : network.transcript().entries()) {
      requests += entry.direction == kel::sim::TranscriptEntry::Direction::kToUnit;
    }
    if (!done) std::fprintf(stderr, "%s\n", updater.console.output().c_str());
    return done;
  }

  struct Peer {
    Peer(kel::sim::SimNetwork& network, kel::MemorySerialLine& line)
        : line(line), inner(network, line), timed(inner) {}
    void AttachTimed() { line.AttachPeer(&timed); }
    ~Peer() { line.AttachPeer(&inner); }
    kel::MemorySerialLine& line;
    kel::sim::MemoryPeer inner;
    TimedPeer timed;
  };

  int32_t baud;
  bool ready = false;
  kel::VirtualClock clock;
  kel::MemorySerialPorts ports{clock};
  kel::sim::SimNetwork network;
  bool built = Build(network);
  Peer peer{network, ports.AddLine(1)};
  Updater updater{clock, ports};
};

bool WriteFile(kel::RemoteFileAccess& files, const Bytes& data, bool highSpeed) {
  uint8_t result = 0;
  if (!files.CreateFile(kAddress, kDrive, kBenchFile, highSpeed, result) || result != 0) {
    return false;
  }
  for (size_t at = 0; at < data.size(); at += kel::kFileBlockSize) {
    const size_t n = std::min<size_t>(kel::kFileBlockSize, data.size() - at);
    if (!files.WriteFileBlock(kAddress, kDrive, kBenchFile, static_cast<uint32_t>(at),
                              data.data() + at, static_cast<uint8_t>(n), result)) {
      return false;
    }
  }
  return files.CloseFile(kAddress, kDrive, kBenchFile, result) && result == 0;
}

bool ReadFile(kel::RemoteFileAccess& files, const Bytes& expected, bool highSpeed) {
  uint8_t result = 0;
  if (!files.OpenFile(kAddress, kDrive, kBenchFile, highSpeed, result) || result != 0) {
    return false;
  }
  Bytes got;
  uint8_t block[kel::kFileBlockSize];
  for (uint32_t offset = 0;;) {
    uint8_t length = kel::kFileBlockSize;
    if (!files.ReadFileRemote(kAddress, kDrive, kBenchFile, offset, length, block)) return false;
    if (length == 0) break;
    got.insert(got.end(), block, block + length);
    offset += length;
  }
  return files.CloseFile(kAddress, kDrive, kBenchFile, result) && result == 0 && got == expected;
}

void PrintLine(const char* head, uint64_t payload, uint64_t wireOut, uint64_t wireIn, double bound,
               double achieved, double cpu) {
  std::printf(
      "%s payload_bytes=%llu wire_out_bytes=%llu wire_in_bytes=%llu bound_s=%.3f "
      "achieved_s=%.3f ratio=%.3f cpu_s=%.3f clock=virtual\n",
      head, static_cast<unsigned long long>(payload), static_cast<unsigned long long>(wireOut),
      static_cast<unsigned long long>(wireIn), bound, achieved, achieved / bound, cpu);
  std::fflush(stdout);
}

// Writes and reads back the 64 KiB file in one block form; two lines.
int TransferRuns(int32_t baud, bool highSpeed) {
  const char* form = highSpeed ? "H" : "G";
  Bench bench(baud);
  const Bytes data = Pattern(kFileBytes, 3);
  int failures = 0;
  for (const bool writing : {true, false}) {
    char head[96];
    std::snprintf(head, sizeof head, "file-bench transport=%s direction=%s baud=%d", form,
                  writing ? "write" : "read", baud);
    uint64_t out = 0, in = 0;
    double achieved = 0, cpu = 0, bound = 0;
    size_t requests = 0;
    kel::RemoteFileAccess& files = bench.updater.files;
    const bool done = bench.ready && bench.Measure(
                                         [&] {
                                           return writing ? WriteFile(files, data, highSpeed)
                                                          : ReadFile(files, data, highSpeed);
                                         },
                                         out, in, achieved, cpu, bound, requests);
    const kel::sim::SimFile* kept = bench.network.connected()->files.Find(kDrive, kBenchFile);
    if (done && kept != nullptr && kept->data == data) {
      PrintLine(head, data.size(), out, in, bound, achieved, cpu);
    } else {
      std::printf("%s failed\n", head);
      ++failures;
    }
  }
  return failures;
}

// The check of seven files the unit already holds with their CRCs: one
// attributes request each, nothing written.
int CheckRun(int32_t baud) {
  Bench bench(baud);
  std::vector<Bytes> contents;
  for (size_t k = 0; k < kCheckedFiles; ++k) {
    contents.push_back(Pattern(kCheckedFileBytes, static_cast<uint8_t>(k)));
  }
  kel::RemoteFileAccess& files = bench.updater.files;
  kel::UnitInfo& unit = bench.updater.unit;
  bool ready = bench.ready;
  for (size_t k = 0; ready && k < kCheckedFiles; ++k) {
    ready =
        kel::UpdateFile(files, unit, kDrive, static_cast<uint16_t>(0x200 + k), contents[k], true);
  }
  uint64_t out = 0, in = 0;
  double achieved = 0, cpu = 0, bound = 0;
  size_t requests = 0;
  const bool done = ready && bench.Measure(
                                 [&] {
                                   bool upToDate = true;
                                   for (size_t k = 0; k < kCheckedFiles; ++k) {
                                     upToDate = upToDate && !kel::FileIsDifferent(
                                                                files, unit, kDrive,
                                                                static_cast<uint16_t>(0x200 + k),
                                                                contents[k], true);
                                   }
                                   return upToDate;
                                 },
                                 out, in, achieved, cpu, bound, requests);
  if (!done) {
    std::printf("file-check baud=%d files=%zu failed\n", baud, kCheckedFiles);
    return 1;
  }
  std::printf(
      "file-check baud=%d files=%zu requests=%zu bound_s=%.4f achieved_s=%.4f ratio=%.3f "
      "cpu_s=%.4f clock=virtual\n",
      baud, kCheckedFiles, requests, bound, achieved, achieved / bound, cpu);
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main() {
  int failures = 0;
  for (int32_t baud : kBauds) {
    for (const bool highSpeed : {false, true}) failures += TransferRuns(baud, highSpeed);
  }
  for (int32_t baud : kBauds) failures += CheckRun(baud);
  return failures == 0 ? 0 : 1;
}
