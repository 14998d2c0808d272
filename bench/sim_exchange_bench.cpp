// Prints how many request/reply exchanges the in-process simulator serves
// per second of real time: identification calls and 128-byte file reads
// on the in-memory line with a virtual clock.

#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/memory_serial.h"
#include "platform/virtual_clock.h"
#include "sim/crc16.h"
#include "sim/memory_peer.h"
#include "sim/sim_network.h"

namespace {

std::vector<uint8_t> Framed(std::vector<uint8_t> payload) {
  kel::sim::AppendCrc16(payload);
  return payload;
}

double Run(kel::MemorySerialLine& line, kel::VirtualClock& clock, const std::vector<uint8_t>& request,
           int count, size_t& replyBytes) {
  std::vector<uint8_t> buffer(4096);
  replyBytes = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    line.HostWrite(request.data(), request.size());
    clock.Advance(10);
    replyBytes += line.HostRead(buffer.data(), buffer.size());
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return count / took.count();
}

}  // namespace

int main() {
  kel::VirtualClock clock;
  kel::MemorySerialLine line(clock);
  kel::sim::SimNetwork network;
  kel::sim::SimUnit unit;
  unit.name = "kt5";
  unit.modbusAddress = unit.unitAddress = 5;
  unit.files.Put(1, 0x131, std::vector<uint8_t>(128, 'x'));
  network.AddUnit(unit, kel::sim::SimNetwork::Place::kConnected);
  network.transcript().SetLimit(1000);
  kel::sim::MemoryPeer peer(network, line);
  line.config.baudRate = 19200;

  constexpr int kCount = 200000;
  size_t bytes = 0;
  double rate = Run(line, clock, Framed({0x05, 0x45, 0x10, 0x10}), kCount, bytes);
  std::printf("ReadUnitInfo: %.0f exchanges/s (%zu reply bytes)\n", rate, bytes);
  rate = Run(line, clock, Framed({0x05, 0x45, 0x10, 0x14}), kCount, bytes);
  std::printf("ReadAdvancedInfo: %.0f exchanges/s (%zu reply bytes)\n", rate, bytes);
  return 0;
}
