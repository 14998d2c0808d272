// Packet layer latency over a pseudo-terminal, and its CPU cost per megabyte.
//
// A thread plays the unit on the pty master: it answers each request the
// moment it has read it and notes when the reply's last byte was written.
// The figure is the time from then to RecvPacket returning in the program.
// Where there are no pseudo-terminals only the CPU figure is measured.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "link/comm_port.h"
#include "link/packet_layer.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/memory_serial.h"
#include "platform/process_exit.h"
#include "platform/pseudo_terminal.h"
#include "platform/registry.h"
#include "platform/virtual_clock.h"
#include "runtime/output.h"
#include "runtime/runtime.h"

namespace {

using Bytes = std::vector<uint8_t>;
using SteadyClock = std::chrono::steady_clock;

Bytes Framed(Bytes payload) {
  const uint16_t wire = kel::Crc16OfBuffer(payload.data(), payload.size());
  payload.push_back(static_cast<uint8_t>(wire >> 8));
  payload.push_back(static_cast<uint8_t>(wire & 0xFF));
  return payload;
}

struct Quiet {
  kel::Options options;
  kel::ScriptedConsole console;
  kel::MapEnvironment env;
  kel::MapRegistry registry;
  kel::ThrowingExit exit;
};

// Writes all of `bytes` to the non-blocking master, retrying while full.
bool WriteAll(kel::PseudoTerminal& pty, const Bytes& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const int n = pty.Write(bytes.data() + done, bytes.size() - done);
    if (n < 0) return false;
    if (n == 0) std::this_thread::yield();
    done += static_cast<size_t>(n);
  }
  return true;
}

int LatencyOverPty(int rounds) {
  std::string error;
  std::unique_ptr<kel::LocalComPort> com = kel::LocalComPort::Open(1, error);
  if (!com) {
    std::printf("reply to RecvPacket over a pty: not measured here (%s)\n",
                error.c_str());
    return 0;
  }
  kel::PseudoTerminal& master = com->terminal();

  Quiet q;
  q.options.portNumber = 1;
  q.options.initialBaudRate = 115200;
  kel::Output out(q.console, kel::SystemClock(), q.options);
  kel::Runtime runtime{q.options, out, kel::SystemClock(), q.console, q.env, q.registry, q.exit, {}};
  kel::CommPort port(runtime, kel::SystemSerialPorts());
  kel::ProxySettings proxy;
  kel::PacketLayer packets(runtime, port, proxy);
  if (!port.OpenPort()) {
    std::fprintf(stderr, "cannot open the pseudo-terminal\n");
    return 1;
  }
  port.settings().receiveTimeoutMs = 1000;

  const Bytes request = Framed({0x01, 0x41});
  const Bytes reply = Framed({0x01, 0x41, 0x00});
  std::atomic<int64_t> writtenAt{0};
  std::atomic<bool> stop{false};
  std::thread unit([&] {
    size_t have = 0;
    uint8_t buf[64];
    while (!stop) {
      if (kel::WaitForTerminals({&master}, 50).empty()) continue;
      const int n = master.Read(buf, sizeof buf);
      if (n <= 0) continue;
      have += static_cast<size_t>(n);
      while (have >= request.size()) {
        have -= request.size();
        if (!WriteAll(master, reply)) return;
        writtenAt = SteadyClock::now().time_since_epoch().count();
      }
    }
  });

  std::vector<double> micros;
  micros.reserve(static_cast<size_t>(rounds));
  int failures = 0;
  for (int i = 0; i < rounds; ++i) {
    writtenAt = 0;
    packets.StartRequest();
    packets.PutPacketByte(0x01);
    packets.PutPacketByte(0x41);
    packets.SendPacket(2);
    const bool got = packets.RecvPacket(3);
    const int64_t done = SteadyClock::now().time_since_epoch().count();
    for (int b = 0; b < 3; ++b) packets.NextReplyByte();
    // The unit notes the time just after its write returns, which may be
    // a moment after the program already has the reply.
    for (int spin = 0; got && writtenAt == 0 && spin < 10000; ++spin) std::this_thread::yield();
    if (!got || !packets.CheckReply() || writtenAt == 0) {
      ++failures;
      continue;
    }
    const int64_t elapsed = std::max<int64_t>(0, done - writtenAt.load());
    micros.push_back(
        std::chrono::duration<double, std::micro>(SteadyClock::duration(elapsed)).count());
  }
  stop = true;
  unit.join();
  port.ClosePort();

  if (micros.empty()) {
    std::fprintf(stderr, "no exchange succeeded\n");
    return 1;
  }
  std::sort(micros.begin(), micros.end());
  const double median = micros[micros.size() / 2];
  const double p99 = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
  std::printf("reply to RecvPacket over a pty: %zu exchanges, %d failed\n", micros.size(),
              failures);
  std::printf("  median %.1f us, 99th percentile %.1f us, max %.1f us\n", median, p99,
              micros.back());
  return 0;
}

// The far end of an in-memory line that answers every request with a
// reply of `size` payload bytes at once.
class Answerer : public kel::MemorySerialPeer {
 public:
  Answerer(kel::MemorySerialLine& line, size_t size) : line_(line) {
    Bytes payload(size, 0x5A);
    payload[0] = 0x01;
    payload[1] = 0x46;
    reply_ = Framed(payload);
    line.AttachPeer(this);
  }
  void OnHostBytes(const uint8_t*, size_t, const kel::SerialConfig&, uint32_t now) override {
    line_.SendToHost(reply_.data(), reply_.size(), now);
  }

 private:
  kel::MemorySerialLine& line_;
  Bytes reply_;
};

int CpuPerMegabyte(int rounds, size_t size) {
  Quiet q;
  q.options.portNumber = 1;
  kel::VirtualClock clock;
  kel::Output out(q.console, clock, q.options);
  kel::Runtime runtime{q.options, out, clock, q.console, q.env, q.registry, q.exit, {}};
  kel::MemorySerialPorts ports(clock);
  Answerer unit(ports.AddLine(1), size);
  kel::CommPort port(runtime, ports);
  kel::ProxySettings proxy;
  kel::PacketLayer packets(runtime, port, proxy);
  if (!port.OpenPort()) return 1;

  const std::clock_t start = std::clock();
  uint64_t bytes = 0;
  for (int i = 0; i < rounds; ++i) {
    packets.StartRequest();
    packets.PutPacketByte(0x01);
    packets.PutPacketByte(0x46);
    for (size_t b = 2; b < size; ++b) packets.PutPacketByte(static_cast<uint8_t>(b + i));
    packets.SendPacket(size);
    if (!packets.RecvPacket(size)) return 1;
    for (size_t b = 0; b < size; ++b) packets.NextReplyByte();
    if (!packets.CheckReply()) return 1;
    bytes += 2 * (size + 2);
  }
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  const double megabytes = static_cast<double>(bytes) / (1024.0 * 1024.0);
  std::printf("packet layer CPU: %.1f MB in %.3f s, %.1f ms per MB (%zu-byte payloads)\n",
              megabytes, seconds, seconds * 1000.0 / megabytes, size);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (int rc = LatencyOverPty(rounds > 0 ? rounds : 2000)) return rc;
  return CpuPerMegabyte(2000, 1000);
}
