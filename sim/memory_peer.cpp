#include "sim/memory_peer.h"

namespace kel::sim {

MemoryPeer::MemoryPeer(SimNetwork& network, MemorySerialLine& line)
    : network_(network), line_(line) {
  network_.PowerOn(line_.clock().Ticks());
  line_.AttachPeer(this);
  // Each reply is stamped with the tick it leaves the unit; a late one is
  // overtaken by the replies the unit sends meanwhile.
  line_.deliverInTimeOrder = true;
}

MemoryPeer::~MemoryPeer() {
  if (line_.peer() == this) line_.AttachPeer(nullptr);
}

void MemoryPeer::OnHostBytes(const uint8_t* data, size_t length, const SerialConfig& line,
                             uint32_t now) {
  network_.Feed(data, length, line, now);
  Deliver();
}

void MemoryPeer::OnTime(uint32_t now) {
  network_.Advance(now);
  Deliver();
}

bool MemoryPeer::NextEvent(uint32_t& tick) { return network_.NextEvent(tick); }

bool MemoryPeer::HostBytesLeaveAt(uint32_t& tick) { return network_.HostBytesLeaveAt(tick); }

void MemoryPeer::OnOpen(bool open, const SerialConfig& line) {
  (void)line;
  if (open) network_.PortOpened(line_.clock().Ticks());
}

bool MemoryPeer::Cts() { return network_.Cts(line_.clock().Ticks()); }

void MemoryPeer::Deliver() {
  for (const TimedOutput& out : network_.TakeOutput()) {
    line_.SendToHost(out.bytes.data(), out.bytes.size(), out.deliverAt, &out.line);
  }
}

}  // namespace kel::sim
