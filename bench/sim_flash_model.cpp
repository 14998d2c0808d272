// Writes one software image into a simulated unit through the scripted
// client, in each transport (program flash 0x1040, large 0x1042, windowed
// 0x1041, and buffered chunks with 0x103A through a test jig's proxy) at
// 115200 and 921600 baud, with the simulator's line model on and in
// virtual time. Each run prints the time the transfer took next to the
// bound the model itself implies: the line time of every byte both ways
// plus the unit's processing time, overlapped where the transport lets
// requests be in flight together.
//
//   sim-bench transport=windowed baud=921600 payload_bytes=N achieved_s=X bound_s=Y ratio=X/Y
//   cpu_s=Z

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/memory_serial.h"
#include "platform/virtual_clock.h"
#include "sim/line_timing.h"
#include "sim/memory_peer.h"
#include "sim/sim_network.h"
#include "sim/unit_timing.h"
// The scripted client is test code rather than a library; the bench
// compiles it in.
#include "tests/sim_client.cpp"

namespace {

using kel::SerialConfig;
using kel::sim::LineTimeUs;
using kel::sim::SimUnit;
using kel::simclient::Bytes;
using kel::simclient::MemoryTransport;
using kel::simclient::Record;

// The KT3 transmitter's software (LPC1768): 0x4000..0x756FF in records of
// 8 KiB, the last one shorter.
constexpr uint32_t kStart = 0x4000;
constexpr uint32_t kEnd = 0x75700;
constexpr size_t kRecord = 8192;
constexpr size_t kPiece = 128;
constexpr size_t kWindow = 8;
constexpr uint8_t kJig = 60;
constexpr uint8_t kJigPort = 2;

std::vector<Record> Image() {
  std::vector<Record> records;
  uint32_t state = 12345;
  for (uint32_t at = kStart; at < kEnd; at += kRecord) {
    Record r{at, Bytes(std::min<size_t>(kRecord, kEnd - at))};
    for (uint8_t& b : r.data) {
      state = state * 1103515245u + 12345u;
      b = static_cast<uint8_t>(state >> 16);
    }
    records.push_back(std::move(r));
  }
  return records;
}

std::vector<Record> Pieces(const std::vector<Record>& records) {
  std::vector<Record> pieces;
  for (const Record& r : records) {
    for (size_t at = 0; at < r.data.size(); at += kPiece) {
      const size_t n = std::min(kPiece, r.data.size() - at);
      pieces.push_back({static_cast<uint32_t>(r.address + at),
                        Bytes(r.data.begin() + static_cast<std::ptrdiff_t>(at),
                              r.data.begin() + static_cast<std::ptrdiff_t>(at + n))});
    }
  }
  return pieces;
}

// One request's way through the model: each stage's time, and whether the
// stage is a line or the unit (which one request at a time occupies) or
// only a delay (the jig passing a frame on).
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

// The least time a run of requests in flight together can take: some
// shared stage must carry every request, after the first request has
// reached it and before the last one has gone through the stages after it.
uint64_t Pipelined(const std::vector<Path>& run) {
  if (run.empty()) return 0;
  uint64_t bound = 0;
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

Bytes Request(uint8_t command, const Bytes& fields) {
  Bytes p = {1, 0x45, 0x10, command};
  p.insert(p.end(), fields.begin(), fields.end());
  return p;
}

class Run {
 public:
  Run(MemoryTransport transport, int32_t baud) : transport_(transport), baud_(baud) {
    SimUnit unit;
    unit.name = "kt3";
    unit.cardNumber = 648;
    unit.circuitCode = 5;
    unit.mcuType = 5;
    unit.bootLoaderRelease = 18;
    unit.programmerBufferSize = kRecord;
    unit.startRole = kel::sim::SimRole::kProgrammer;
    network_.SetLineModel(true);
    network_.transcript().SetLimit(64);
    if (Proxied()) {
      SimUnit jig;
      jig.name = "kj3";
      jig.cardNumber = 652;
      jig.isJig = true;
      jig.jigPortNumber = kJigPort;
      jig.modbusAddress = jig.unitAddress = kJig;
      jig.applicationBaud = baud;
      jig.proxyBaud = baud;
      network_.AddUnit(jig, kel::sim::SimNetwork::Place::kConnected);
      far_ = &network_.AddUnit(unit, kel::sim::SimNetwork::Place::kJigPort);
    } else {
      far_ = &network_.AddUnit(unit, kel::sim::SimNetwork::Place::kConnected);
    }
    peer_ = std::make_unique<kel::sim::MemoryPeer>(network_, ports_.AddLine(1));
    // The programmer has been moved to the programming speed already.
    far_->baudRate = baud;
  }

  bool Proxied() const { return transport_ == MemoryTransport::kBuffered; }

  // Erases the software range, then writes the image; returns the virtual
  // microseconds the writing took.
  bool Write(const std::vector<Record>& image, uint64_t& us) {
    if (!client_.Open(baud_)) return false;
    if (Proxied()) {
      Bytes reply;
      if (!client_.Call({kJig, 0x45, 0x10, 0x3E}, 5, reply) || reply[4] != 0) return false;
      client_.SetProxy(kJig, kJigPort);
    }
    if (!client_.EraseRange(kStart, kEnd - 1, 10000)) return false;
    const std::vector<Record> sent = transport_ == MemoryTransport::kSmall ? Pieces(image) : image;
    const uint64_t start = clock_.Micros();
    if (!client_.ProgramFlash(sent, transport_)) return false;
    us = clock_.Micros() - start;
    return far_->flash.Read(kStart, image.front().data.size()) == image.front().data;
  }

  // The model's bound for the same requests, from the line time and the
  // processing time the simulator itself charges.
  uint64_t BoundUs(const std::vector<Record>& image) const {
    const SerialConfig line = kel::sim::UnitLine(baud_, false);
    auto onLine = [&](size_t bytes) { return Stage{LineTimeUs(bytes, line), true}; };
    auto unit = [&](const Bytes& payload) {
      return Stage{kel::sim::ProcessingUs(*far_, payload), true};
    };
    uint64_t total = 0;
    switch (transport_) {
      case MemoryTransport::kSmall:
        for (const Record& r : Pieces(image)) {
          Bytes fields(5 + r.data.size());
          fields[4] = static_cast<uint8_t>(r.data.size());
          total += Serial({onLine(9 + r.data.size() + 2), unit(Request(0x40, fields)), onLine(12)});
        }
        break;
      case MemoryTransport::kLarge:
        for (const Record& r : image) {
          Bytes fields(6 + r.data.size());
          fields[4] = static_cast<uint8_t>(r.data.size() >> 8);
          fields[5] = static_cast<uint8_t>(r.data.size());
          total +=
              Serial({onLine(10 + r.data.size() + 2), unit(Request(0x42, fields)), onLine(13)});
        }
        break;
      case MemoryTransport::kWindowed: {
        std::vector<Path> run;
        for (const Record& r : Pieces(image)) {
          Bytes fields(7 + r.data.size());
          fields[6] = static_cast<uint8_t>(r.data.size());
          run.push_back({onLine(11 + r.data.size() + 2), unit(Request(0x41, fields)), onLine(14)});
        }
        total = Pipelined(run);
        break;
      }
      case MemoryTransport::kBuffered: {
        // Through the jig: to it at the program's line, passed on over its
        // second port, and the reply the same way back with the proxy
        // header (5 bytes) and the length header (2) on the program's side.
        const Stage relay{far_->timing.requestUs, false};
        auto proxied = [&](size_t payload, const Bytes& request, size_t reply) {
          return Path{onLine(7 + payload + 2), relay, onLine(payload + 2),  unit(request),
                      onLine(reply + 2),       relay, onLine(7 + reply + 2)};
        };
        for (const Record& r : image) {
          std::vector<Path> chunks;
          for (size_t at = 0; at < r.data.size(); at += kPiece) {
            const size_t n = std::min(kPiece, r.data.size() - at);
            Bytes fields(3 + n);
            fields[2] = static_cast<uint8_t>(n);
            chunks.push_back(proxied(7 + n, Request(0x38, fields), 7));
          }
          // Window by window: the commit waits for the last chunk's reply.
          total += Pipelined(chunks);
          Bytes commit(6);
          commit[4] = static_cast<uint8_t>(r.data.size() >> 8);
          commit[5] = static_cast<uint8_t>(r.data.size());
          total += Serial(proxied(10, Request(0x3A, commit), 11));
        }
        break;
      }
    }
    return total;
  }

 private:
  MemoryTransport transport_;
  int32_t baud_;
  kel::VirtualClock clock_;
  kel::MemorySerialPorts ports_{clock_};
  kel::sim::SimNetwork network_;
  SimUnit* far_ = nullptr;
  std::unique_ptr<kel::sim::MemoryPeer> peer_;
  kel::simclient::SimClient client_{ports_, 1, clock_};
};

const char* Name(MemoryTransport t) {
  switch (t) {
    case MemoryTransport::kSmall:
      return "direct";
    case MemoryTransport::kLarge:
      return "large";
    case MemoryTransport::kWindowed:
      return "windowed";
    case MemoryTransport::kBuffered:
      return "buffered-jig";
  }
  return "?";
}

}  // namespace

int main() {
  const std::vector<Record> image = Image();
  size_t bytes = 0;
  for (const Record& r : image) bytes += r.data.size();
  int failures = 0;
  for (MemoryTransport transport : {MemoryTransport::kSmall, MemoryTransport::kLarge,
                                    MemoryTransport::kWindowed, MemoryTransport::kBuffered}) {
    for (int32_t baud : {115200, 921600}) {
      const auto cpuStart = std::chrono::steady_clock::now();
      Run run(transport, baud);
      uint64_t us = 0;
      if (!run.Write(image, us)) {
        std::printf("sim-bench transport=%s baud=%d failed\n", Name(transport), baud);
        ++failures;
        continue;
      }
      const double achieved = static_cast<double>(us) / 1e6;
      const double bound = run.BoundUs(image) / 1e6;
      const double cpu =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - cpuStart).count();
      std::printf(
          "sim-bench transport=%s baud=%d payload_bytes=%zu achieved_s=%.3f bound_s=%.3f "
          "ratio=%.3f cpu_s=%.2f\n",
          Name(transport), baud, bytes, achieved, bound, achieved / bound, cpu);
    }
  }
  return failures == 0 ? 0 : 1;
}
