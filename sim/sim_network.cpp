#include "sim/sim_network.h"

#include <algorithm>
#include <string>

#include "sim/application_role.h"
#include "sim/isp_role.h"
#include "sim/proxy_role.h"

namespace kel::sim {

namespace {

constexpr uint8_t kBootLoaderAddress = 1;
constexpr int32_t kProgrammerStartBaud = 115200;
constexpr int32_t kBootLoaderPowerOnBaud = 9600;
// Bits a byte takes on the line: start, 8 data, 2 stop (or parity + 1 stop).
constexpr uint32_t kBitsPerByte = 11;
// A pause this long inside a frame means the rest is never coming.
constexpr uint32_t kFrameGapMs = 20;
// Default fault amounts.
constexpr uint32_t kDefaultLateMs = 1500;
constexpr uint8_t kDefaultFailure = 1;
constexpr uint8_t kGarbageByte = 0xA5;
// Boot flag bit 0: the boot loader found no application software.
constexpr uint8_t kNoSoftwareFlag = 0x01;

uint32_t LineTimeMs(size_t bytes, int32_t baud) {
  if (baud <= 0) return 0;
  return static_cast<uint32_t>((static_cast<uint64_t>(bytes) * kBitsPerByte * 1000 + baud - 1) / baud);
}

bool TimeReached(uint32_t now, uint32_t tick) { return static_cast<int32_t>(now - tick) >= 0; }

// Puts a failure code into the result field of a flash or file reply. The
// result is the last field of these replies except for the attribute
// record, and a block read reports failure with the count 0xFF.
void InjectFailure(std::vector<uint8_t>& p, uint8_t code) {
  if (p.size() < 5) return;
  if (p[1] == 0x45 && p[2] == 0x10 && p[3] == 0x2F && p.size() > 7) {
    p[7] = code;
  } else if (p[1] == 0x45 && p[2] == 0x10 && p[3] == 0x27 && p.size() > 11) {
    p[11] = 0xFF;
    p.resize(12);
  } else {
    p.back() = code;
  }
}

void ChangeCommand(std::vector<uint8_t>& p) {
  if (p.size() < 2) return;
  if (p[1] == 0x42) {
    p[1] = 0x43;
  } else if (p[1] == 0x45 && p.size() >= 4) {
    p[3] ^= 0x01;
  } else if (p.size() >= 3) {
    p[2] ^= 0x01;
  }
}

}  // namespace

SimNetwork::SimNetwork(RoleHandlers handlers) : handlers_(handlers) {}

void SimNetwork::Adopt(SimUnit& unit, Place place) {
  unit.network = this;
  unit.connected = place == Place::kConnected;
}

SimUnit& SimNetwork::AddUnit(const SimUnit& unit, Place place) {
  auto copy = std::make_unique<SimUnit>(unit);
  Adopt(*copy, place);
  SimUnit& ref = *copy;
  switch (place) {
    case Place::kConnected: connected_ = std::move(copy); break;
    case Place::kNetwork: network_.push_back(std::move(copy)); break;
    case Place::kJigPort: jigPort_ = std::move(copy); break;
  }
  return ref;
}

std::vector<SimUnit*> SimNetwork::AllUnits() {
  std::vector<SimUnit*> all;
  if (connected_) all.push_back(connected_.get());
  for (auto& u : network_) all.push_back(u.get());
  if (jigPort_) all.push_back(jigPort_.get());
  return all;
}

SimUnit* SimNetwork::Find(const std::string& name) {
  for (SimUnit* u : AllUnits()) {
    if (u->name == name) return u;
  }
  return nullptr;
}

void SimNetwork::PowerOn(uint32_t now) {
  for (SimUnit* u : AllUnits()) {
    u->restarting = true;
    u->restartRole = u->startRole;
    u->restartDoneAt = now;
    FinishRestart(*u);
    // A unit found running at start is ready at once.
    u->readyAt = now;
  }
  lastByteAt_ = now;
  lineFreeAt_ = now;
}

void SimNetwork::PortOpened(uint32_t now) { openedAt_ = now; }

bool SimNetwork::Cts(uint32_t now) const {
  if (!connected_ || unplugged_ || connected_->restarting) return false;
  switch (connected_->cts) {
    case CtsBehaviour::kLow: return false;
    case CtsBehaviour::kHigh: return true;
    case CtsBehaviour::kAfterDelay: return TimeReached(now, openedAt_ + connected_->ctsDelayMs);
  }
  return false;
}

bool SimNetwork::Hears(const SimUnit& unit, const SerialConfig& line) {
  const bool hostEven = line.parityOn && line.evenParity;
  const bool hostOdd = line.parityOn && !line.evenParity;
  if (unit.role == SimRole::kBlankChip) return !line.parityOn;
  if (unit.autoBaud) return !line.parityOn && (line.baudRate == 9600 || line.baudRate == 115200);
  return !hostOdd && line.baudRate == unit.baudRate && hostEven == unit.evenParity;
}

void SimNetwork::Lost(const uint8_t* data, size_t length, const SerialConfig& line, uint32_t now,
                      const char* why) {
  TranscriptEntry e;
  e.time = now;
  e.baudRate = line.baudRate;
  e.evenParity = line.parityOn && line.evenParity;
  e.direction = TranscriptEntry::Direction::kLost;
  if (data) e.bytes.assign(data, data + length);
  e.note = why;
  transcript_.Add(std::move(e));
}

void SimNetwork::Advance(uint32_t now) {
  for (SimUnit* u : AllUnits()) {
    if (u->restarting && TimeReached(now, u->restartDoneAt)) FinishRestart(*u);
  }
}

bool SimNetwork::NextEvent(uint32_t& tick) const {
  bool any = false;
  auto consider = [&](const SimUnit* u) {
    if (!u || !u->restarting) return;
    if (!any || static_cast<int32_t>(u->restartDoneAt - tick) < 0) tick = u->restartDoneAt;
    any = true;
  };
  consider(connected_.get());
  for (const auto& u : network_) consider(u.get());
  consider(jigPort_.get());
  return any;
}

std::vector<TimedOutput> SimNetwork::TakeOutput() {
  std::vector<TimedOutput> out;
  out.swap(output_);
  std::stable_sort(out.begin(), out.end(), [](const TimedOutput& a, const TimedOutput& b) {
    return static_cast<int32_t>(a.deliverAt - b.deliverAt) < 0;
  });
  return out;
}

void SimNetwork::Feed(const uint8_t* data, size_t length, const SerialConfig& line, uint32_t now) {
  if (length == 0) return;
  Advance(now);
  if (decoder_.pending() > 0 && !TimeReached(lastByteAt_ + kFrameGapMs, now)) {
    decoder_.DropPending();
  }
  lastByteAt_ = now;
  SimUnit* unit = connected_.get();
  if (!unit || unplugged_) return Lost(data, length, line, now, "no unit on the line");
  if (unit->restarting) return Lost(data, length, line, now, "unit restarting");
  if (!Hears(*unit, line)) {
    // A UART at another speed or parity reads garbage: nothing of it counts.
    decoder_.DropPending();
    return Lost(data, length, line, now, "line settings differ from the unit's");
  }
  if (unit->autoBaud && unit->role != SimRole::kBlankChip) unit->baudRate = line.baudRate;
  if (unit->role == SimRole::kBlankChip) {
    TranscriptEntry in;
    in.time = now;
    in.baudRate = line.baudRate;
    in.direction = TranscriptEntry::Direction::kToUnit;
    in.bytes.assign(data, data + length);
    in.note = unit->name + " (ROM)";
    transcript_.Add(std::move(in));
    const std::string text = HandleIspBytes(*unit, data, length);
    if (text.empty()) return;
    TimedOutput out;
    out.bytes.assign(text.begin(), text.end());
    out.deliverAt = now + processingMs_ + (lineModel_ ? LineTimeMs(out.bytes.size(), line.baudRate) : 0);
    TranscriptEntry reply;
    reply.time = out.deliverAt;
    reply.baudRate = line.baudRate;
    reply.direction = TranscriptEntry::Direction::kFromUnit;
    reply.bytes = out.bytes;
    reply.note = unit->name + " (ROM)";
    transcript_.Add(std::move(reply));
    output_.push_back(std::move(out));
    ++requestsHandled_;
    return;
  }
  decoder_.Push(data, length);
  DecodedFrame frame;
  while (decoder_.Next(frame)) {
    const size_t skipped = decoder_.TakeSkipped();
    if (skipped > 0) {
      Lost(nullptr, 0, line, now, ("noise skipped before a frame: " + std::to_string(skipped) + " bytes").c_str());
    }
    HandleFrame(frame, line, now);
  }
}

SimUnit* SimNetwork::Route(uint8_t address) {
  SimUnit* c = connected_.get();
  if (!c || c->restarting) return nullptr;
  switch (c->role) {
    case SimRole::kApplication:
      if (address == c->unitAddress || address == kBroadcastAddress) return c;
      break;
    case SimRole::kBootLoader:
    case SimRole::kProgrammer:
      // The boot loader and the programmer it starts answer at address 1 only.
      return address == kBootLoaderAddress ? c : nullptr;
    case SimRole::kBlankChip:
      return nullptr;
  }
  // The connected unit's software relays to the units on its network.
  for (auto& u : network_) {
    if (!u->restarting && u->role == SimRole::kApplication && u->unitAddress == address) return u.get();
  }
  return nullptr;
}

std::vector<uint8_t> SimNetwork::RemoteAddresses() {
  std::vector<uint8_t> list;
  for (auto& u : network_) {
    if (!u->restarting && u->role == SimRole::kApplication) list.push_back(u->unitAddress);
  }
  return list;
}

bool SimNetwork::Dispatch(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  switch (unit.role) {
    case SimRole::kApplication: {
      if (unit.isJig && HandleProxyRequest(unit, jigPort_.get(), payload, replies)) return true;
      const std::vector<uint8_t> remotes = unit.connected ? RemoteAddresses() : std::vector<uint8_t>();
      if (HandleApplicationRequest(unit, payload, remotes, replies)) return true;
      return handlers_.files && handlers_.files(unit, payload, replies);
    }
    case SimRole::kBootLoader:
      return handlers_.bootLoader && handlers_.bootLoader(unit, payload, replies);
    case SimRole::kProgrammer:
      if (handlers_.programmer && handlers_.programmer(unit, payload, replies)) return true;
      return handlers_.files && handlers_.files(unit, payload, replies);
    case SimRole::kBlankChip:
      return false;
  }
  return false;
}

void SimNetwork::HandleFrame(const DecodedFrame& frame, const SerialConfig& line, uint32_t now) {
  TranscriptEntry in;
  in.time = now;
  in.baudRate = line.baudRate;
  in.evenParity = line.parityOn && line.evenParity;
  in.direction = TranscriptEntry::Direction::kToUnit;
  in.bytes = frame.raw;
  if (frame.proxied) {
    in.note = "proxied";
    transcript_.Add(std::move(in));
    return ForwardThroughJig(frame, now);
  }
  SimUnit* unit = frame.payload.empty() ? nullptr : Route(frame.payload[0]);
  in.note = unit ? unit->name : "no unit at this address";
  transcript_.Add(std::move(in));
  if (!unit) return;

  const std::vector<FaultRule> hits = faults_.Match(frame.payload, unit->name);
  for (const FaultRule& f : hits) {
    switch (f.kind) {
      case FaultKind::kDropRequest:
        return;
      case FaultKind::kUnplug:
        unplugged_ = true;
        return;
      case FaultKind::kRestart:
        StartRestart(*unit, now, f.value == 1 ? SimRole::kBootLoader : SimRole::kApplication);
        return;
      default:
        break;
    }
  }
  unit->now = now;
  const SimRole before = unit->role;
  SimReplies replies;
  if (!Dispatch(*unit, frame.payload, replies)) return;
  ++requestsHandled_;
  const uint32_t done = Emit(*unit, replies, hits, frame.lengthFramed, nullptr, line.baudRate, now);
  AfterRequest(*unit, before, done);
}

void SimNetwork::ForwardThroughJig(const DecodedFrame& frame, uint32_t now) {
  SimUnit* jig = connected_.get();
  if (!jig || !jig->isJig || jig->restarting || jig->role != SimRole::kApplication || !jig->proxyOpen) return;
  if (frame.proxy.jigAddress != jig->unitAddress || frame.proxy.port != jig->jigPortNumber) return;
  SimUnit* unit = jigPort_.get();
  if (!unit || unit->restarting || frame.payload.empty()) return;
  SerialConfig far;
  far.baudRate = jig->proxyBaud;
  if (!Hears(*unit, far)) return;
  if (unit->autoBaud) unit->baudRate = far.baudRate;
  const uint8_t address = frame.payload[0];
  const bool addressed = unit->role == SimRole::kApplication
                             ? (address == unit->unitAddress || address == kBroadcastAddress)
                             : address == kBootLoaderAddress;
  if (!addressed) return;

  const std::vector<FaultRule> hits = faults_.Match(frame.payload, unit->name);
  for (const FaultRule& f : hits) {
    if (f.kind == FaultKind::kDropRequest) return;
    if (f.kind == FaultKind::kUnplug) {
      unplugged_ = true;
      return;
    }
    if (f.kind == FaultKind::kRestart) {
      StartRestart(*unit, now, f.value == 1 ? SimRole::kBootLoader : SimRole::kApplication);
      return;
    }
  }
  unit->now = now;
  const SimRole before = unit->role;
  SimReplies replies;
  if (!Dispatch(*unit, frame.payload, replies)) return;
  ++requestsHandled_;
  ProxyHeader header;
  header.jigAddress = jig->unitAddress;
  header.direction = ProxyHeader::kFromUnit;
  header.port = jig->jigPortNumber;
  // The jig's own line to the program keeps the program's speed; the hop to
  // the far unit adds its own line time when the line model is on.
  uint32_t forwardedAt = now;
  if (lineModel_) forwardedAt += LineTimeMs(frame.payload.size() + 2, jig->proxyBaud);
  const uint32_t done = Emit(*unit, replies, hits, true, &header, jig->baudRate, forwardedAt);
  AfterRequest(*unit, before, done);
}

uint32_t SimNetwork::Emit(SimUnit& unit, SimReplies& replies, const std::vector<FaultRule>& hits,
                      bool lengthFramed, const ProxyHeader* proxy, int32_t baudRate, uint32_t now) {
  // Replies leave in the order of their processing times; later ones may
  // overtake a slow one, as a windowed programmer's do.
  std::stable_sort(replies.begin(), replies.end(),
                   [](const SimReply& a, const SimReply& b) { return a.delayMs < b.delayMs; });
  uint32_t last = now;
  for (SimReply& reply : replies) {
    bool drop = false;
    bool twice = false;
    uint32_t extraDelay = 0;
    size_t garbage = 0;
    int corruptAt = -1;
    for (const FaultRule& f : hits) {
      switch (f.kind) {
        case FaultKind::kDropReply: drop = true; break;
        case FaultKind::kDoubleReply: twice = true; break;
        case FaultKind::kLateReply: extraDelay += f.hasValue ? f.value : kDefaultLateMs; break;
        case FaultKind::kPrependGarbage: garbage += f.hasValue ? f.value : 1; break;
        case FaultKind::kCorruptByte: corruptAt = f.hasValue ? static_cast<int>(f.value) : -2; break;
        case FaultKind::kWrongCommand: ChangeCommand(reply.payload); break;
        case FaultKind::kHardwareFailure:
          InjectFailure(reply.payload, f.hasValue ? static_cast<uint8_t>(f.value) : kDefaultFailure);
          break;
        default: break;
      }
    }
    ProxyHeader header;
    if (proxy) {
      header = *proxy;
      header.size = static_cast<uint8_t>(reply.payload.size());
    }
    std::vector<uint8_t> wire = EncodeFrame(reply.payload, reply.lengthFramed || lengthFramed,
                                            proxy ? &header : nullptr);
    if (corruptAt != -1 && !wire.empty()) {
      const size_t at = corruptAt == -2 ? wire.size() / 2 : static_cast<size_t>(corruptAt) % wire.size();
      wire[at] ^= 0x55;
    }
    if (garbage > 0) wire.insert(wire.begin(), std::min<size_t>(garbage, 4096), kGarbageByte);
    std::string note = unit.name;
    for (const FaultRule& f : hits) note += std::string(" [") + FaultKindName(f.kind) + "]";
    const int copies = drop ? 0 : twice ? 2 : 1;
    uint32_t ready = now + processingMs_ + reply.delayMs + extraDelay;
    for (int i = 0; i < copies; ++i) {
      TimedOutput out;
      out.bytes = wire;
      if (lineModel_) {
        if (static_cast<int32_t>(lineFreeAt_ - ready) > 0) ready = lineFreeAt_;
        out.deliverAt = ready + LineTimeMs(wire.size(), baudRate);
      } else {
        out.deliverAt = ready;
      }
      if (static_cast<int32_t>(out.deliverAt - lineFreeAt_) > 0) lineFreeAt_ = out.deliverAt;
      if (static_cast<int32_t>(out.deliverAt - last) > 0) last = out.deliverAt;
      TranscriptEntry e;
      e.time = out.deliverAt;
      e.baudRate = baudRate;
      e.evenParity = unit.connected ? unit.evenParity : false;
      e.direction = TranscriptEntry::Direction::kFromUnit;
      e.bytes = wire;
      e.note = note;
      transcript_.Add(std::move(e));
      output_.push_back(std::move(out));
    }
    if (drop) {
      TranscriptEntry e;
      e.time = ready;
      e.baudRate = baudRate;
      e.direction = TranscriptEntry::Direction::kLost;
      e.bytes = wire;
      e.note = note;
      transcript_.Add(std::move(e));
    }
  }
  return last;
}

void SimNetwork::AfterRequest(SimUnit& unit, SimRole roleBefore, uint32_t replyDone) {
  // Speed changes take effect once the reply has left at the old speed.
  if (roleBefore == SimRole::kBootLoader && unit.role == SimRole::kProgrammer && unit.nextBaudRate == 0) {
    unit.nextBaudRate = kProgrammerStartBaud;
    unit.nextEvenParity = false;
  }
  if (unit.nextBaudRate != 0) {
    unit.baudRate = unit.nextBaudRate;
    unit.evenParity = unit.nextEvenParity;
    unit.autoBaud = false;
    unit.nextBaudRate = 0;
  }
  if (unit.restartRequested) StartRestart(unit, replyDone, unit.restartRole);
  if (unit.networkRestartRequested) {
    unit.networkRestartRequested = false;
    if (connected_) StartRestart(*connected_, replyDone, SimRole::kApplication);
    for (auto& u : network_) StartRestart(*u, replyDone, SimRole::kApplication);
  }
}

void SimNetwork::StartRestart(SimUnit& unit, uint32_t at, SimRole role) {
  unit.restartRequested = false;
  unit.restarting = true;
  unit.restartRole = role;
  unit.restartDoneAt = at + unit.restartMs;
}

void SimNetwork::FinishRestart(SimUnit& unit) {
  unit.restarting = false;
  // The boot loader starts the application only when there is one: after
  // the software area was erased or rewritten it looks again, and with
  // nothing there it keeps control and reports "no application software".
  if (unit.flash.softwareWritten && handlers_.softwarePresent) {
    unit.softwarePresent = handlers_.softwarePresent(unit);
    unit.bootFlags = static_cast<uint8_t>(unit.softwarePresent ? unit.bootFlags & ~kNoSoftwareFlag
                                                               : unit.bootFlags | kNoSoftwareFlag);
  }
  if (unit.restartRole == SimRole::kApplication && !unit.softwarePresent) unit.restartRole = SimRole::kBootLoader;
  unit.role = unit.restartRole;
  unit.ram.clear();
  unit.scratch.clear();
  unit.flashSession.Clear();
  unit.files.open = OpenFileState();
  unit.proxyOpen = false;
  unit.ispSynchronized = false;
  unit.ispAutobaudSeen = false;
  unit.ispFrequencySet = false;
  unit.ispInput.clear();
  unit.nextBaudRate = 0;
  switch (unit.role) {
    case SimRole::kApplication:
      // Update files received earlier are checked and applied on the way up.
      if (handlers_.applyUpdates) handlers_.applyUpdates(unit);
      unit.baudRate = unit.applicationBaud;
      unit.evenParity = unit.applicationEvenParity;
      unit.autoBaud = false;
      unit.readyAt = unit.restartDoneAt + unit.notReadyMs;
      break;
    case SimRole::kBootLoader:
    case SimRole::kBlankChip:
      unit.autoBaud = true;
      unit.baudRate = kBootLoaderPowerOnBaud;
      unit.evenParity = false;
      break;
    case SimRole::kProgrammer:
      unit.autoBaud = false;
      unit.baudRate = kProgrammerStartBaud;
      unit.evenParity = false;
      break;
  }
  unit.reportedChecksum = unit.softwareChecksum;
  unit.reportedCrc = unit.softwareCrc;
  if (handlers_.refreshSoftwareCheck) handlers_.refreshSoftwareCheck(unit);
}

}  // namespace kel::sim
