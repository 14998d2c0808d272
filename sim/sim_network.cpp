#include "sim/sim_network.h"

#include <algorithm>
#include <string>

#include "platform/memory_serial.h"
#include "sim/application_role.h"
#include "sim/boot_region.h"
#include "sim/isp_role.h"
#include "sim/proxy_role.h"
#include "sim/role_reply.h"

namespace kel::sim {

namespace {

constexpr int32_t kProgrammerStartBaud = 115200;
constexpr int32_t kBootLoaderPowerOnBaud = 9600;
// A pause this long inside a frame means the rest is never coming.
constexpr uint32_t kFrameGapMs = 20;
// After a power cycle the boot loader listens this long for a program
// waiting for it before it starts the software.
constexpr uint32_t kPowerOnListenMs = 300;
// Boot flag bit 0: the boot loader found no application software.

bool TimeReached(uint32_t now, uint32_t tick) { return static_cast<int32_t>(now - tick) >= 0; }

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
    case Place::kConnected:
      connected_ = std::move(copy);
      break;
    case Place::kNetwork:
      network_.push_back(std::move(copy));
      break;
    case Place::kJigPort:
      jigPort_ = std::move(copy);
      break;
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

void SimNetwork::PowerOn(uint32_t now) { StartAt(now, uint64_t{now} * 1000); }

void SimNetwork::PowerOnUs(uint64_t nowUs) {
  // The units' clock starts at the beginning of the tick power-on falls in,
  // so that ticks and microseconds name the same moments.
  StartAt(static_cast<uint32_t>(nowUs / 1000), nowUs / 1000 * 1000);
}

void SimNetwork::StartAt(uint32_t now, uint64_t tickUs) {
  epochMs_ = now;
  epochUs_ = tickUs;
  for (SimUnit* u : AllUnits()) {
    u->restarting = true;
    u->restartRole = u->startRole;
    u->restartDoneAt = now;
    FinishRestart(*u);
    // A unit found running at start is ready at once.
    u->readyAt = now;
  }
  lastByteUs_ = 0;
}

void SimNetwork::PowerCycle(uint32_t now) {
  for (SimUnit* u : AllUnits()) {
    u->silentUntilUs = 0;
    u->restartRequested = false;
    u->networkRestartRequested = false;
    // The boot loader comes up first and listens a moment for a program
    // that waits for it, then starts the software.
    const bool listens = u->startRole == SimRole::kApplication && u->connected;
    StartRestart(*u, now, listens ? SimRole::kBootLoader : u->startRole, RestartCause::kPowerCycle);
    u->bootWindowUntil = listens ? now + u->restartMs + kPowerOnListenMs : 0;
  }
  ctsLowUntilUs_ = 0;
}

void SimNetwork::PortOpened(uint32_t now) { openedAt_ = now; }

bool SimNetwork::Cts(uint32_t now) const {
  if (!connected_ || unplugged_ || connected_->restarting) return false;
  if (ToUs(now) < ctsLowUntilUs_) return false;
  switch (connected_->cts) {
    case CtsBehaviour::kLow:
      return false;
    case CtsBehaviour::kHigh:
      return true;
    case CtsBehaviour::kAfterDelay:
      return TimeReached(now, openedAt_ + connected_->ctsDelayMs);
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

TranscriptEntry SimNetwork::Entry(TranscriptEntry::Direction direction, std::vector<uint8_t> bytes,
                                  const SerialConfig& line, uint32_t tick, uint64_t request) const {
  TranscriptEntry e;
  e.time = tick;
  e.baudRate = line.baudRate;
  e.evenParity = line.parityOn && line.evenParity;
  e.direction = direction;
  e.bytes = std::move(bytes);
  e.request = request;
  return e;
}

void SimNetwork::Lost(const uint8_t* data, size_t length, const SerialConfig& line, uint32_t now,
                      const std::string& why, uint64_t request) {
  TranscriptEntry e =
      Entry(TranscriptEntry::Direction::kLost,
            data ? std::vector<uint8_t>(data, data + length) : std::vector<uint8_t>(), line, now,
            request);
  e.note = why;
  transcript_.Add(std::move(e));
}

void SimNetwork::Advance(uint32_t now) { ReachUs(ToUs(now), true); }

void SimNetwork::AdvanceToUs(uint64_t nowUs) { ReachUs(FromHostUs(nowUs), true); }

void SimNetwork::ReachUs(uint64_t us, bool inclusive) {
  // A held reply whose unit finished before this moment found nothing
  // waiting: it goes out now.
  for (size_t i = 0; i < held_.size();) {
    if (held_[i].decideUs < us || (inclusive && held_[i].decideUs == us)) {
      HeldReply held = std::move(held_[i]);
      held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
      ReleaseHeld(held);
    } else {
      ++i;
    }
  }
  const uint32_t tick = epochMs_ + static_cast<uint32_t>(us / 1000);
  for (SimUnit* u : AllUnits()) {
    if (u->restarting && TimeReached(tick, u->restartDoneAt)) FinishRestart(*u);
    if (u->bootWindowUntil != 0 && !u->restarting && TimeReached(tick, u->bootWindowUntil)) {
      // Nothing called: the boot loader starts the software, if any.
      u->bootWindowUntil = 0;
      u->restartRole = SimRole::kApplication;
      u->restartDoneAt = tick;
      FinishRestart(*u);
    }
  }
}

bool SimNetwork::NextEvent(uint32_t& tick) const {
  bool any = false;
  auto consider = [&](uint32_t at) {
    if (!any || static_cast<int32_t>(at - tick) < 0) tick = at;
    any = true;
  };
  auto restart = [&](const SimUnit* u) {
    if (u && u->restarting) consider(u->restartDoneAt);
    if (u && u->bootWindowUntil != 0) consider(u->bootWindowUntil);
  };
  restart(connected_.get());
  for (const auto& u : network_) restart(u.get());
  restart(jigPort_.get());
  for (const HeldReply& h : held_) consider(ToTick(h.decideUs));
  return any;
}

bool SimNetwork::NextEventUs(uint64_t& us) const {
  bool any = false;
  auto consider = [&](uint64_t at) {
    if (!any || at < us) us = at;
    any = true;
  };
  auto restart = [&](const SimUnit* u) {
    if (u && u->restarting) consider(HostUs(ToUs(u->restartDoneAt)));
    if (u && u->bootWindowUntil != 0) consider(HostUs(ToUs(u->bootWindowUntil)));
  };
  restart(connected_.get());
  for (const auto& u : network_) restart(u.get());
  restart(jigPort_.get());
  for (const HeldReply& h : held_) consider(HostUs(h.decideUs));
  return any;
}

void SimNetwork::Feed(const uint8_t* data, size_t length, const SerialConfig& line, uint32_t now) {
  FeedAt(data, length, line, ToUs(now));
}

void SimNetwork::FeedUs(const uint8_t* data, size_t length, const SerialConfig& line,
                        uint64_t nowUs) {
  FeedAt(data, length, line, FromHostUs(nowUs));
}

void SimNetwork::FeedAt(const uint8_t* data, size_t length, const SerialConfig& line,
                        uint64_t nowUs) {
  if (length == 0) return;
  // The bytes reach the unit at once, or with the line model one after
  // another once the line is free; with hardware flow control none leaves
  // while the unit holds CTS low.
  uint64_t startUs = nowUs;
  if (line.ctsFlow) startUs = std::max(startUs, ctsLowUntilUs_);
  if (lineModel_) startUs = hostToUnit_.Send(startUs, length, line, nullptr);
  const SerialConfig timing = lineModel_ ? line : UnitLine(0, false);
  const uint64_t firstUs = startUs + LineTimeUs(1, timing);
  ReachUs(firstUs, false);
  if (decoder_.pending() > 0 && nowUs > lastByteUs_ + uint64_t{kFrameGapMs} * 1000)
    decoder_.DropPending();
  lastByteUs_ = nowUs;
  const uint32_t arrivalTick = ToTick(firstUs);
  SimUnit* unit = connected_.get();
  if (!unit || unplugged_) return Lost(data, length, line, arrivalTick, "no unit on the line");
  if (unit->restarting) return Lost(data, length, line, arrivalTick, "unit restarting");
  if (!Hears(*unit, line)) {
    // A UART at another speed or parity reads garbage, which also spoils
    // any frame it had begun.
    decoder_.DropPending();
    std::vector<uint8_t> garbled(data, data + length);
    for (uint8_t& b : garbled) b = GarbledByte(b);
    return Lost(garbled.data(), garbled.size(), line, arrivalTick,
                "garbled: line settings differ from the unit's");
  }
  if (unit->autoBaud && unit->role != SimRole::kBlankChip) unit->baudRate = line.baudRate;
  if (unit->role == SimRole::kBlankChip) {
    return HandleIsp(*unit, data, length, line, startUs + LineTimeUs(length, timing));
  }
  arrivals_.Add(streamIndex_, length, startUs, timing);
  streamIndex_ += length;
  decoder_.Push(data, length);
  DecodedFrame frame;
  while (decoder_.Next(frame)) {
    const size_t skipped = decoder_.TakeSkipped();
    if (skipped > 0) {
      Lost(nullptr, 0, line, arrivalTick,
           "noise skipped before a frame: " + std::to_string(skipped) + " bytes");
    }
    const uint64_t end = decoder_.consumed();
    HandleFrame(frame, line, arrivals_.ArrivalOf(end - frame.raw.size()),
                arrivals_.ArrivalOf(end - 1));
  }
  arrivals_.Forget(decoder_.consumed());
}

void SimNetwork::HandleIsp(SimUnit& unit, const uint8_t* data, size_t length,
                           const SerialConfig& line, uint64_t arrivalUs) {
  TranscriptEntry in =
      Entry(TranscriptEntry::Direction::kToUnit, std::vector<uint8_t>(data, data + length), line,
            ToTick(arrivalUs), ++requestCount_);
  in.note = unit.name + " (ROM)";
  transcript_.Add(std::move(in));
  const std::string text = HandleIspBytes(unit, data, length);
  if (text.empty()) return;
  ++requestsHandled_;
  Request request;
  request.line = line;
  request.number = requestCount_;
  const uint64_t ready =
      arrivalUs + (lineModel_ ? unit.timing.requestUs : uint64_t{processingMs_} * 1000);
  const uint64_t end = PutOnLine(request, text.size(), 0, ready, line, true);
  TimedOutput out;
  out.bytes.assign(text.begin(), text.end());
  out.deliverAt = ToTick(end);
  out.deliverAtUs = HostUs(end);
  out.line = line;
  TranscriptEntry reply =
      Entry(TranscriptEntry::Direction::kFromUnit, out.bytes, line, out.deliverAt, requestCount_);
  reply.note = unit.name + " (ROM)";
  transcript_.Add(std::move(reply));
  output_.push_back(std::move(out));
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
    if (!u->restarting && u->role == SimRole::kApplication && u->unitAddress == address)
      return u.get();
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
      const std::vector<uint8_t> remotes =
          unit.connected ? RemoteAddresses() : std::vector<uint8_t>();
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

void SimNetwork::AfterRequest(SimUnit& unit, SimRole roleBefore, uint32_t replyDone) {
  // Speed changes take effect once the reply has left at the old speed.
  if (roleBefore == SimRole::kBootLoader && unit.role == SimRole::kProgrammer &&
      unit.nextBaudRate == 0) {
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

void SimNetwork::StartRestart(SimUnit& unit, uint32_t at, SimRole role, RestartCause cause) {
  ReleaseHeldOf(unit);
  unit.restartCause = cause;
  unit.restartRequested = false;
  unit.restarting = true;
  unit.restartRole = role;
  unit.restartDoneAt = at + unit.restartMs;
}

void SimNetwork::FinishRestart(SimUnit& unit) {
  unit.restarting = false;
  // The chip starts a boot loader only when its boot region holds a whole
  // one; else its ROM loader runs, whatever the flash holds above it.
  if (!TakeOnBootRegion(unit)) {
    if (!unit.bootLoaderLost) {
      unit.bootLoaderLost = true;
      unit.bootLoaderLostBy = unit.restartCause;
    }
    unit.restartRole = SimRole::kBlankChip;
    unit.bootWindowUntil = 0;
  }
  // The boot loader starts the application only when there is one: after
  // the software area was erased or rewritten it looks again, and with
  // nothing there it keeps control and reports "no application software".
  if (unit.flash.softwareWritten && handlers_.softwarePresent) {
    unit.softwarePresent = handlers_.softwarePresent(unit);
    unit.bootFlags = static_cast<uint8_t>(unit.softwarePresent ? unit.bootFlags & ~kNoSoftwareFlag
                                                               : unit.bootFlags | kNoSoftwareFlag);
  }
  if (unit.restartRole == SimRole::kApplication && !unit.softwarePresent)
    unit.restartRole = SimRole::kBootLoader;
  unit.role = unit.restartRole;
  unit.ram.clear();
  unit.scratch.clear();
  unit.flashSession.Clear();
  unit.files.open = OpenFileState();
  unit.inbox.Clear();
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
