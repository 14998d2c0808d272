#include "sim/memory_peer.h"

#include <algorithm>

namespace kel::sim {

MemoryPeer::MemoryPeer(SimNetwork& network, MemorySerialLine& line)
    : network_(network), line_(line) {
  network_.PowerOnUs(line_.clock().Micros());
  line_.AttachPeer(this);
  // Each reply is stamped with the moment it has reached the program; a late one is
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

void MemoryPeer::OnHostBytesUs(const uint8_t* data, size_t length, const SerialConfig& line,
                               uint64_t nowUs) {
  network_.FeedUs(data, length, line, nowUs);
  Deliver();
}

void MemoryPeer::OnTime(uint32_t now) {
  network_.Advance(now);
  Deliver();
}

void MemoryPeer::OnTimeUs(uint64_t nowUs) {
  network_.AdvanceToUs(nowUs);
  Deliver();
}

bool MemoryPeer::NextEvent(uint32_t& tick) { return network_.NextEvent(tick); }

bool MemoryPeer::NextEventUs(uint64_t nowUs, uint64_t& atUs) {
  (void)nowUs;
  bool any = network_.NextEventUs(atUs);
  uint64_t release = 0;
  if (adapter_ && adapter_->NextRelease(release)) {
    atUs = any ? std::min(atUs, release) : release;
    any = true;
  }
  return any;
}

bool MemoryPeer::HostBytesLeaveAt(uint32_t& tick) { return network_.HostBytesLeaveAt(tick); }

bool MemoryPeer::HostBytesLeaveAtUs(uint64_t nowUs, uint64_t& atUs) {
  (void)nowUs;
  return network_.HostBytesLeaveAtUs(atUs);
}

void MemoryPeer::OnOpen(bool open, const SerialConfig& line) {
  (void)line;
  if (open) network_.PortOpened(line_.clock().Ticks());
}

bool MemoryPeer::Cts() { return network_.Cts(line_.clock().Ticks()); }

void MemoryPeer::Deliver() {
  std::vector<TimedOutput> outputs = network_.TakeOutput();
  if (adapter_) {
    for (const TimedOutput& out : outputs) adapter_->Add(out, network_.lineModel());
    outputs = adapter_->Take(line_.clock().Micros());
  }
  for (const TimedOutput& out : outputs) {
    line_.SendToHostUs(out.bytes.data(), out.bytes.size(), out.deliverAtUs, &out.line);
  }
}

}  // namespace kel::sim
