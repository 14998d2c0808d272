// Writes every software image of an LPC unit into a simulated unit with the
// updater's own programmer download and flash code, in each transport
// (program flash 0x1040 with the image cut into 128-byte records, large
// 0x1042 with its 8 KiB records, windowed 0x1041 with 8 in flight, and
// buffered chunks with 0x103A through a test jig) at 115200 and 921600
// baud, with the simulator's line and unit time and in virtual time. One
// line per run:
//
//   flash-bench transport=windowed baud=921600 image=NAME payload_bytes=N wire_out_bytes=N
//   wire_in_bytes=N bound_s=X achieved_s=Y ratio=Y/X cpu_s=Z clock=virtual
//
// achieved_s is the time WriteFlash took (erase included); bound_s is the
// least time the same model allows for the requests the protocol needs:
// every byte's line time plus the unit's time, added up for exchanges that
// wait for their reply and overlapped for those kept in flight. The
// virtual clock runs in microseconds, so the program can act on a reply
// the moment it arrives. cpu_s is the updater's own processor time (the
// simulator's is left out).
//
// With --real a further run goes over a pseudo-terminal in real time, the
// simulator pacing its replies at the line's speed (clock=real): the first
// image, windowed at 921600 baud, or the transport named by
// --real=TRANSPORT. --real-only leaves the virtual runs out.
// --late-windowed runs the windowed transport alone against a programmer
// that answers every other windowed write late (late=yes on the line).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/timed_peer.h"
#include "flash/flash_writer.h"
#include "flash/image_catalogue.h"
#include "flash/image_selection.h"
#include "flash/programmer_download.h"
#include "flash/record_image.h"
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
#include "sim/unit_timing.h"
#include "unit/proxy_switch.h"
#include "unit/rpc_buffer_size.h"
#include "unit/rpc_identification.h"
#include "unit/rpc_proxy.h"

#if !defined(_WIN32)
#include <stdlib.h>
#include <unistd.h>
#endif

namespace {

using kel::bench::ThreadCpuSeconds;
using kel::bench::TimedPeer;

using Bytes = std::vector<uint8_t>;

enum class Transport { kDirect, kLarge, kWindowed, kBuffered };
constexpr Transport kTransports[] = {Transport::kDirect, Transport::kLarge, Transport::kWindowed,
                                     Transport::kBuffered};
constexpr int32_t kBauds[] = {115200, 921600};
constexpr uint8_t kJig = 60;
constexpr uint8_t kJigPort = 2;
constexpr size_t kPiece = 128;

const char* Name(Transport t) {
  switch (t) {
    case Transport::kDirect:
      return "direct";
    case Transport::kLarge:
      return "large";
    case Transport::kWindowed:
      return "windowed";
    case Transport::kBuffered:
      return "buffered";
  }
  return "?";
}

// ---- The image as sent ---------------------------------------------------

struct Record {
  uint32_t address;
  const uint8_t* data;
  size_t length;
};

// The image's records, cut into pieces of at most `piece` bytes.
std::vector<Record> Cut(const kel::RecordImage& image, size_t piece) {
  std::vector<Record> out;
  for (const kel::ImageRecord& r : image.records()) {
    for (size_t at = 0; at < r.length; at += piece) {
      out.push_back(
          {static_cast<uint32_t>(r.address + at), r.data + at, std::min(piece, r.length - at)});
    }
  }
  return out;
}

Bytes Container(uint32_t start, const std::vector<Record>& records) {
  Bytes b;
  auto u32 = [&b](uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
  };
  uint32_t total = 0;
  for (const Record& r : records) total += static_cast<uint32_t>(r.length);
  u32(start);
  u32(total);
  for (const Record& r : records) {
    u32(r.address);
    b.push_back(static_cast<uint8_t>(r.length >> 8));
    b.push_back(static_cast<uint8_t>(r.length));
    b.insert(b.end(), r.data, r.data + r.length);
  }
  u32(kel::RecordImage::kEndMarker);
  return b;
}

// ---- The model's bound ---------------------------------------------------

// One request's way through the model: each stage's time, and whether the
// stage is a line direction or a unit, which carries one request at a time,
// or only a delay.
struct Stage {
  uint64_t us;
  bool shared;
};
using Path = std::vector<Stage>;

uint64_t Serial(const Path& path) {
  uint64_t sum = 0;
  for (const Stage& s : path) sum += s.us;
  return sum;
}

// The least time requests kept in flight together can take: some shared
// stage carries every one of them, after the first has reached it and
// before the last has passed the stages after it.
uint64_t Pipelined(const std::vector<Path>& run) {
  uint64_t bound = 0;
  if (run.empty()) return bound;
  const size_t stages = run.front().size();
  for (size_t s = 0; s < stages; ++s) {
    if (!run.front()[s].shared) continue;
    uint64_t total = 0;
    for (size_t k = 0; k < s; ++k) total += run.front()[k].us;
    for (const Path& p : run) total += p[s].us;
    for (size_t k = s + 1; k < stages; ++k) total += run.back()[k].us;
    bound = std::max(bound, total);
  }
  return bound;
}

// A request payload to the boot-loader address, built field by field. The
// room is taken at once: growing a small vector by insert() trips a false
// array-bounds warning in optimised GCC builds.
class Request {
 public:
  Request(uint8_t command, size_t fields) {
    bytes_.reserve(4 + fields);
    bytes_ = {1, 0x45, 0x10, command};
  }
  Request& U8(size_t v) {
    bytes_.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  Request& U16(size_t v) { return U8(v >> 8).U8(v); }
  Request& U32(uint32_t v) { return U16(v >> 16).U16(v & 0xFFFF); }
  Request& Data(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) bytes_.push_back(data[i]);
    return *this;
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// The bound in microseconds: exchanges that wait for their reply and runs
// kept in flight, added up.
struct Bound {
  uint64_t us = 0;
  void Add(uint64_t stage) { us += stage; }
};

Bound ModelBound(Transport transport, const std::vector<Record>& sent,
                 const kel::sim::SimUnit& unit, const kel::sim::SimUnit* jig, int32_t baud) {
  using kel::sim::LineTimeUs;
  const kel::SerialConfig line = kel::sim::UnitLine(baud, false);
  auto onLine = [&](size_t bytes) { return Stage{LineTimeUs(bytes, line), true}; };
  auto busy = [&](const Request& request) {
    return Stage{kel::sim::ProcessingUs(unit, request.bytes()), true};
  };
  // Through the jig: the program's line with the length and proxy headers,
  // the jig passing the frame on, the far line, and the same way back.
  auto path = [&](const Request& request, size_t reply) {
    const size_t size = request.bytes().size();
    if (!jig) return Path{onLine(size + 2), busy(request), onLine(reply + 2)};
    const Stage relay{jig->timing.requestUs, false};
    return Path{onLine(7 + size + 2), relay, onLine(size + 2),     busy(request),
                onLine(reply + 2),    relay, onLine(7 + reply + 2)};
  };

  Bound bound;
  const Record& first = sent.front();
  const Record& last = sent.back();
  const uint32_t end = static_cast<uint32_t>(last.address + last.length - 1);
  bound.Add(Serial(path(Request(0x35, 8).U32(first.address).U32(end), 4)));

  std::vector<Path> run;
  for (const Record& r : sent) {
    switch (transport) {
      case Transport::kDirect:
      case Transport::kLarge: {
        const bool large = r.length > kPiece;
        Request request(large ? 0x42 : 0x40, 7 + r.length);
        request.U32(r.address);
        if (large) request.U8(r.length >> 8);
        request.U8(r.length).Data(r.data, r.length);
        bound.Add(Serial(path(request, large ? 11 : 10)));
        break;
      }
      case Transport::kWindowed: {
        // The updater cuts each record into requests of 128 bytes.
        for (size_t at = 0; at < r.length; at += kPiece) {
          const size_t n = std::min(kPiece, r.length - at);
          Request request(0x41, 7 + n);
          request.U16(0).U32(static_cast<uint32_t>(r.address + at)).U8(n).Data(r.data + at, n);
          run.push_back(path(request, 12));
        }
        break;
      }
      case Transport::kBuffered: {
        std::vector<Path> chunks;
        for (size_t at = 0; at < r.length; at += kPiece) {
          const size_t n = std::min(kPiece, r.length - at);
          chunks.push_back(path(Request(0x38, 3 + n).U16(at).U8(n).Data(r.data + at, n), 7));
        }
        // The commit leaves once the last chunk is acknowledged.
        bound.Add(Pipelined(chunks));
        bound.Add(Serial(path(Request(0x3A, 6).U32(r.address).U16(r.length), 11)));
        break;
      }
    }
  }
  if (!run.empty()) bound.Add(Pipelined(run));
  return bound;
}

// ---- The updater's side --------------------------------------------------

// The updater as main sets it up, on COM1, with its output kept quiet.
struct Updater {
  Updater(kel::Clock& clock, kel::SerialPortOpener& ports)
      : out(console, clock, options),
        runtime{options, out, clock, console, env, registry, exit, {}},
        port(runtime, ports) {
    options.portNumber = 1;
    out.errorReportLevel = 1;
  }

  // Reaches the unit's boot loader as the connection step leaves it:
  // directly, or through the test jig's proxy with buffered transfer.
  bool Reach(Transport transport, int32_t baud) {
    options.programmingBaudRate = baud;
    options.initialBaudRate = transport == Transport::kBuffered ? baud : 115200;
    if (!port.OpenPort()) return false;
    if (transport == Transport::kBuffered) {
      if (!kel::OpenKelUpdaterProxy(link, kJig)) return false;
      kel::TurnProxyOn(link, kJig, kJigPort, 115200, state.bootLoaderAddress);
      state.bufferedTransfer = true;
    }
    state.overlappedActive = transport == Transport::kWindowed;
    unit.unitAddress = state.bootLoaderAddress;
    unit.connectionMode = kel::modePonderixBootLoader;
    if (!kel::ReadBootLoaderRelease(link, unit)) return false;
    kel::GetBufferSize(link, unit);
    return true;
  }

  // Downloads the catalogue's programmer for the unit and starts it.
  bool StartProgrammer(uint8_t unitType) {
    unit.unitType = unitType;
    return kel::SelectFlashProgrammer(runtime, unit, false) &&
           kel::DownloadProgrammer(link, transfer, unit, unit.flashProgrammer, "");
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
  kel::TransferState transfer{options};
  kel::UnitInfo unit;
};

// --late-windowed: the windowed runs only, with a programmer that answers
// every other windowed write late, so that replies arrive swapped.
bool lateWindowed = false;

std::string ScenarioText(const kel::SoftwareEntry& software, Transport transport, int32_t baud) {
  // An LPC unit's buffer takes 8 KiB records; the direct transport is
  // shown with a unit that takes 128 bytes a request.
  std::string unit = "role = boot-loader\nboot-loader = 4r18\nboot-flags = 0\nmcu = " +
                     std::to_string(software.mcuType) +
                     "\nbuffer-size = " + (transport == Transport::kDirect ? "128" : "8192") + "\n";
  if (lateWindowed && transport == Transport::kWindowed) unit += "late-windowed = yes\n";
  std::string text = "[port]\nnumber = 1\nline-model = yes\n";
  if (transport == Transport::kBuffered) {
    text +=
        "[unit jig]\nplace = connected\njig = yes\ncard = 652\nmodbus = " + std::to_string(kJig) +
        "\nbaud = " + std::to_string(baud) +
        "\nproxy-baud = 115200\njig-port = " + std::to_string(kJigPort) + "\n";
    text += "[unit target]\nplace = jig-port\n" + unit;
  } else {
    text += "[unit target]\nplace = connected\n" + unit;
  }
  return text;
}

struct Figures {
  uint64_t payload = 0;
  uint64_t wireOut = 0;
  uint64_t wireIn = 0;
  double achieved = 0;
  double cpu = 0;
  Bound bound;
};

void Print(Transport transport, int32_t baud, const char* image, const Figures& f,
           const char* clock) {
  const double bound = static_cast<double>(f.bound.us) / 1e6;
  std::printf(
      "flash-bench transport=%s baud=%d image=%s payload_bytes=%llu wire_out_bytes=%llu "
      "wire_in_bytes=%llu bound_s=%.3f achieved_s=%.3f ratio=%.3f cpu_s=%.3f clock=%s%s\n",
      Name(transport), baud, image, static_cast<unsigned long long>(f.payload),
      static_cast<unsigned long long>(f.wireOut), static_cast<unsigned long long>(f.wireIn), bound,
      f.achieved, f.achieved / bound, f.cpu, clock, lateWindowed ? " late=yes" : "");
  std::fflush(stdout);
}

// The image as this transport sends it: cut to 128-byte records for the
// one-byte length of 0x1040, whole otherwise.
struct SentImage {
  SentImage(const kel::ImageRef& catalogue, Transport transport) {
    image.Parse(catalogue.bytes, catalogue.size);
    records = Cut(image, transport == Transport::kDirect ? kPiece : 0xFFFF);
    bytes = Container(image.startAddress(), records);
    ref = {catalogue.name, bytes.data(), static_cast<uint32_t>(bytes.size())};
  }
  bool Landed(const kel::sim::SimUnit& unit) const {
    for (const Record& r : records) {
      if (unit.flash.Read(r.address, r.length) != Bytes(r.data, r.data + r.length)) return false;
    }
    return true;
  }
  kel::RecordImage image;
  std::vector<Record> records;
  Bytes bytes;
  kel::ImageRef ref;
};

// Writes the software `image`, timing WriteFlash alone; false when the run
// failed or the unit's flash does not hold the image afterwards.
template <typename Now, typename Cpu>
bool Measure(Updater& updater, const SentImage& sent, Now now, Cpu cpu, Figures& f) {
  const uint64_t out0 = updater.port.totalSent;
  const uint64_t in0 = updater.port.totalReceived;
  const double cpu0 = cpu();
  const double t0 = now();
  const bool written = kel::WriteFlash(updater.link, updater.transfer, updater.unit, sent.ref, {});
  f.achieved = now() - t0;
  f.cpu = cpu() - cpu0;
  f.wireOut = updater.port.totalSent - out0;
  f.wireIn = updater.port.totalReceived - in0;
  f.payload = sent.image.payloadBytes();
  return written;
}

// The unit being programmed: the one on the line, or behind the jig.
kel::sim::SimUnit* Target(kel::sim::SimNetwork& network, Transport transport) {
  return transport == Transport::kBuffered ? network.jigPortUnit() : network.connected();
}

const kel::sim::SimUnit* Jig(kel::sim::SimNetwork& network, Transport transport) {
  return transport == Transport::kBuffered ? network.connected() : nullptr;
}

bool ParseScenarioText(const std::string& text, kel::sim::Scenario& scenario) {
  std::string error;
  if (kel::sim::ParseScenario(text, scenario, error)) return true;
  std::fprintf(stderr, "scenario: %s\n", error.c_str());
  return false;
}

// One run in virtual time, the simulator answering in the program's thread.
bool VirtualRun(const kel::SoftwareEntry& software, Transport transport, int32_t baud, Figures& f) {
  kel::sim::Scenario scenario;
  if (!ParseScenarioText(ScenarioText(software, transport, baud), scenario)) return false;
  kel::VirtualClock clock;
  kel::MemorySerialPorts ports(clock);
  kel::sim::SimNetwork network;
  kel::sim::BuildNetwork(scenario, network);
  network.transcript().SetLimit(16);
  kel::MemorySerialLine& line = ports.AddLine(1);
  kel::sim::MemoryPeer peer(network, line);
  TimedPeer timed(peer);
  line.AttachPeer(&timed);

  Updater updater(clock, ports);
  if (!updater.Reach(transport, baud) || !updater.StartProgrammer(software.unitType)) return false;
  const SentImage sent(*kel::CatalogueImage(software.image), transport);
  const bool written = Measure(
      updater, sent, [&clock] { return static_cast<double>(clock.Micros()) / 1e6; },
      [&timed] { return ThreadCpuSeconds() - timed.seconds; }, f);
  kel::sim::SimUnit& target = *Target(network, transport);
  f.bound = ModelBound(transport, sent.records, target, Jig(network, transport), baud);
  line.AttachPeer(&peer);
  if (!written) std::fprintf(stderr, "%s\n", updater.console.output().c_str());
  return written && sent.Landed(target);
}

// One run in real time over a pseudo-terminal, the simulator serving it
// from a thread of its own and pacing its replies at the line's speed.
bool RealRun(const kel::SoftwareEntry& software, Transport transport, int32_t baud, Figures& f) {
#if defined(_WIN32)
  (void)software, (void)transport, (void)baud, (void)f;
  std::printf("flash-bench clock=real: no pseudo-terminals on this system\n");
  return true;
#else
  kel::sim::Scenario scenario;
  if (!ParseScenarioText(ScenarioText(software, transport, baud), scenario)) return false;
  char folder[] = "/tmp/flash-bench-XXXXXX";
  if (!mkdtemp(folder)) return false;
  setenv("PONDERIXCOMDIR", folder, 1);
  kel::sim::PtyServer server(kel::SystemClock());
  std::string error;
  if (!server.AddPort(1, scenario, folder, "", error)) {
    std::printf("flash-bench clock=real: not measured here (%s)\n", error.c_str());
    rmdir(folder);
    return true;
  }
  std::atomic<bool> stop{false};
  std::thread unit([&] {
    while (!stop) server.Step(10);
  });

  bool landed = false;
  {
    Updater updater(kel::SystemClock(), kel::SystemSerialPorts());
    const SentImage sent(*kel::CatalogueImage(software.image), transport);
    bool written = updater.Reach(transport, baud) && updater.StartProgrammer(software.unitType);
    if (written) {
      written = Measure(
          updater, sent,
          [] {
            return std::chrono::duration<double>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
          },
          [] { return ThreadCpuSeconds(); }, f);
    }
    if (!written) std::fprintf(stderr, "%s\n", updater.console.output().c_str());
    updater.port.ClosePort();
    stop = true;
    unit.join();
    kel::sim::SimUnit& target = *Target(server.network(0), transport);
    f.bound = ModelBound(transport, sent.records, target, Jig(server.network(0), transport), baud);
    landed = written && sent.Landed(target);
  }
  server.RemoveLinks();
  rmdir(folder);
  return landed;
#endif
}

Transport ParseTransport(const std::string& name) {
  for (Transport t : kTransports) {
    if (name == Name(t)) return t;
  }
  return Transport::kWindowed;
}

}  // namespace

int main(int argc, char** argv) {
  bool real = false;
  bool virtualRuns = true;
  Transport realTransport = Transport::kWindowed;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--real") real = true;
    if (arg == "--real-only") {
      real = true;
      virtualRuns = false;
    }
    if (arg == "--late-windowed") lateWindowed = true;
    if (arg.rfind("--real=", 0) == 0) {
      real = true;
      realTransport = ParseTransport(arg.substr(7));
    }
  }
  int failures = 0;
  for (const kel::SoftwareEntry& software : kel::SoftwareTable()) {
    if (!virtualRuns) break;
    for (Transport transport : kTransports) {
      if (lateWindowed && transport != Transport::kWindowed) continue;
      for (int32_t baud : kBauds) {
        Figures f;
        if (VirtualRun(software, transport, baud, f)) {
          Print(transport, baud, software.image, f, "virtual");
        } else {
          std::printf("flash-bench transport=%s baud=%d image=%s failed\n", Name(transport), baud,
                      software.image);
          ++failures;
        }
      }
    }
  }
  if (real) {
    const kel::SoftwareEntry& software = kel::SoftwareTable().front();
    Figures f;
    if (RealRun(software, realTransport, 921600, f)) {
      if (f.payload > 0) Print(realTransport, 921600, software.image, f, "real");
    } else {
      std::printf("flash-bench transport=%s baud=921600 image=%s clock=real failed\n",
                  Name(realTransport), software.image);
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
