// The request side of a simulated port: a decoded frame routed to its unit
// (directly, through the connected unit's network or through a test jig),
// the request-side faults, the unit's receive buffer and window, and the
// unit acting on it.

#include <algorithm>
#include <string>

#include "sim/application_role.h"
#include "sim/power_loss.h"
#include "sim/reply_faults.h"
#include "sim/sim_network.h"
#include "sim/role_reply.h"

namespace kel::sim {

namespace {

// Application software that relays "H" file blocks to the units behind it.
constexpr uint32_t kDefaultSilenceMs = 2000;
constexpr uint32_t kDefaultCtsLowMs = 1000;

const FaultRule* FindFault(const std::vector<FaultRule>& hits, FaultKind kind) {
  for (const FaultRule& f : hits) {
    if (f.kind == kind) return &f;
  }
  return nullptr;
}

}  // namespace

void SimNetwork::HandleFrame(const DecodedFrame& frame, const SerialConfig& line, uint64_t firstUs,
                             uint64_t arrivalUs) {
  ReachUs(arrivalUs, false);
  TranscriptEntry in = Entry(TranscriptEntry::Direction::kToUnit, frame.raw, line,
                             ToTick(arrivalUs), ++requestCount_);
  Request request;
  request.payload = frame.payload;
  request.lengthFramed = frame.lengthFramed;
  request.proxied = frame.proxied;
  request.header = frame.proxy;
  request.line = line;
  request.firstUs = firstUs;
  request.arrivalUs = arrivalUs;
  request.wireBytes = frame.raw.size();
  request.number = requestCount_;
  if (frame.proxied) {
    in.note = "proxied";
    return ForwardThroughJig(std::move(request), std::move(in));
  }
  SimUnit* unit = frame.payload.empty() ? nullptr : Route(frame.payload[0]);
  if (!unit) {
    in.note = connected_ && connected_->restarting ? "unit restarting" : "no unit at this address";
    transcript_.Add(std::move(in));
    return;
  }
  // The connected unit passes "H" blocks on only when its own software
  // knows them.
  if (unit != connected_.get() && frame.payload.size() > 1 && frame.payload[1] == 0x48 &&
      connected_->softwareVersion < kFastBlocksFromVersion) {
    in.note = unit->name + " (not relayed: the connected unit's software predates \"H\" blocks)";
    transcript_.Add(std::move(in));
    return;
  }
  Receive(*unit, std::move(request), std::move(in));
}

SerialConfig SimNetwork::JigLine() const {
  const SimUnit* jig = connected_.get();
  return jig ? UnitLine(jig->baudRate, jig->evenParity) : UnitLine(0, false);
}

void SimNetwork::ForwardThroughJig(Request request, TranscriptEntry in) {
  SimUnit* jig = connected_.get();
  SimUnit* unit = jigPort_.get();
  const char* why = nullptr;
  if (!jig || !jig->isJig || jig->restarting || jig->role != SimRole::kApplication ||
      !jig->proxyOpen) {
    why = "no open proxy";
  } else if (request.header.jigAddress != jig->unitAddress ||
             request.header.port != jig->jigPortNumber) {
    why = "not this jig's port";
  } else if (!unit || unit->restarting || request.payload.empty()) {
    why = "no unit on the jig's port";
  } else if (!Hears(*unit, UnitLine(jig->proxyBaud, false))) {
    why = "garbled: the jig's port speed differs from the unit's";
  }
  if (why) {
    in.note += std::string(": ") + why;
    transcript_.Add(std::move(in));
    return;
  }
  if (unit->autoBaud) unit->baudRate = jig->proxyBaud;
  const uint8_t address = request.payload[0];
  const bool addressed = unit->role == SimRole::kApplication
                             ? (address == unit->unitAddress || address == kBroadcastAddress)
                             : address == kBootLoaderAddress;
  if (!addressed) {
    in.note += ": no unit at this address";
    transcript_.Add(std::move(in));
    return;
  }
  // The jig takes the frame in and passes it on over its second port.
  if (lineModel_) {
    const SerialConfig far = UnitLine(jig->proxyBaud, false);
    request.firstUs = jigToUnit_.Send(request.arrivalUs + jig->timing.requestUs,
                                      request.payload.size() + 2, far, &request.arrivalUs);
  }
  request.header.jigAddress = jig->unitAddress;
  request.header.direction = ProxyHeader::kFromUnit;
  request.header.port = jig->jigPortNumber;
  in.note = "proxied to ";
  Receive(*unit, std::move(request), std::move(in));
}

void SimNetwork::Receive(SimUnit& unit, Request request, TranscriptEntry in) {
  const std::vector<FaultRule> hits = faults_.Match(request.payload, unit.name, request.number);
  in.note += unit.name + FaultNotes(hits, true);
  unit.bootWindowUntil = 0;  // heard: a boot loader just powered on stays in charge
  if (request.arrivalUs < unit.silentUntilUs) {
    in.note += " (silent)";
    transcript_.Add(std::move(in));
    return;
  }
  const TranscriptEntry copy = in;
  transcript_.Add(std::move(in));
  for (const FaultRule& f : hits) {
    switch (f.kind) {
      case FaultKind::kDropRequest:
        return;
      case FaultKind::kUnplug:
        unplugged_ = true;
        return;
      case FaultKind::kRestart:
        StartRestart(unit, ToTick(request.arrivalUs),
                     f.value == 1 ? SimRole::kBootLoader : SimRole::kApplication,
                     RestartCause::kFault);
        return;
      case FaultKind::kSilence:
        unit.silentUntilUs = request.arrivalUs + uint64_t{FaultValue(f, kDefaultSilenceMs)} * 1000;
        return;
      case FaultKind::kCtsLow:
        ctsLowUntilUs_ = std::max(
            ctsLowUntilUs_, request.arrivalUs + uint64_t{FaultValue(f, kDefaultCtsLowMs)} * 1000);
        break;
      default:
        break;
    }
  }
  Process(unit, request, hits, FindFault(hits, FaultKind::kPowerLoss));
  if (FindFault(hits, FaultKind::kDuplicate)) {
    // The same frame again, right behind the first.
    request.firstUs = request.arrivalUs;
    request.arrivalUs += lineModel_ ? LineTimeUs(request.wireBytes, request.line) : 0;
    TranscriptEntry again = copy;
    again.time = ToTick(request.arrivalUs);
    again.note = unit.name + " (duplicate copy)";
    transcript_.Add(std::move(again));
    Process(unit, request, {}, nullptr);
  }
}

void SimNetwork::Process(SimUnit& unit, const Request& request, const std::vector<FaultRule>& hits,
                         const FaultRule* powerLoss) {
  const WindowKind kind = WindowKindOf(unit, request.payload);
  const UnitInbox::Refusal refusal =
      unit.inbox.Check(request.firstUs, request.arrivalUs, request.wireBytes, kind,
                       ReceiveCapacity(unit), WindowLimit(unit, kind));
  if (refusal != UnitInbox::Refusal::kNone) {
    Lost(request.payload.data(), request.payload.size(), request.line, ToTick(request.arrivalUs),
         unit.name + (refusal == UnitInbox::Refusal::kBufferFull ? ": receive buffer full"
                                                                 : ": window full"),
         request.number);
    return;
  }
  ResolveHeld(unit, request);
  const uint64_t start =
      lineModel_ ? std::max(request.arrivalUs, unit.busyUntilUs) : request.arrivalUs;
  const uint64_t id = unit.inbox.Add(start, request.wireBytes, kind);
  const std::vector<uint8_t> payload =
      powerLoss ? PartialRequest(unit, request.payload, *powerLoss) : request.payload;
  const uint64_t done =
      start + (lineModel_ ? ProcessingUs(unit, payload.empty() ? request.payload : payload) : 0);
  if (lineModel_) unit.busyUntilUs = done;
  unit.now = ToTick(start);
  const SimRole before = unit.role;
  SimReplies replies;
  const bool handled = !payload.empty() && Dispatch(unit, payload, replies);
  const FaultRule* restartAfter = FindFault(hits, FaultKind::kRestartAfter);
  if (powerLoss || !handled || (restartAfter && handled)) {
    unit.inbox.Finish(id, done);
    // Power lost while acting: what was done stays, the reply never comes.
    if (powerLoss) StartRestart(unit, ToTick(done), SimRole::kApplication, RestartCause::kFault);
    // Restarted once the work was done, before the reply went out.
    if (restartAfter && !powerLoss && handled) {
      StartRestart(unit, ToTick(done),
                   restartAfter->value == 1 ? SimRole::kBootLoader : SimRole::kApplication,
                   RestartCause::kFault);
    }
    return;
  }
  ++requestsHandled_;
  if (CanHold(request, replies, hits)) {
    HeldReply held;
    held.unit = &unit;
    held.request = request;
    held.reply = std::move(replies.front());
    held.decideUs = done;
    held.inboxId = id;
    held_.push_back(std::move(held));
    return;
  }
  const uint64_t last = Emit(unit, request, replies, hits, done);
  unit.inbox.Finish(id, last);
  // A windowed programming reply acknowledges every older write with it.
  if (kind == WindowKind::kProgram && !replies.empty()) unit.inbox.FinishOlder(id, kind, last);
  AfterRequest(unit, before, ToTick(last));
}

}  // namespace kel::sim
