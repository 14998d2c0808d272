// The reply side of a simulated port: framing, reply faults, the line(s)
// back to the program, and the windowed replies a busy unit holds back.

#include <algorithm>

#include "sim/reply_faults.h"
#include "sim/sim_network.h"

namespace kel::sim {

namespace {

bool IsWindowedProgram(const std::vector<uint8_t>& p) {
  return p.size() >= 4 && p[1] == 0x45 && p[2] == 0x10 && p[3] == 0x41;
}

bool AnyReplyFault(const std::vector<FaultRule>& hits) {
  for (const FaultRule& f : hits) {
    if (!IsRequestFault(f.kind)) return true;
  }
  return false;
}

}  // namespace

std::vector<TimedOutput> SimNetwork::TakeOutput() {
  std::vector<TimedOutput> out;
  out.swap(output_);
  std::stable_sort(out.begin(), out.end(), [](const TimedOutput& a, const TimedOutput& b) {
    return a.deliverAtUs < b.deliverAtUs;
  });
  return out;
}

uint64_t SimNetwork::PutOnLine(const Request& request, size_t wireBytes, size_t farBytes,
                               uint64_t readyUs, const SerialConfig& hostLine, bool reserve) {
  if (!lineModel_) return readyUs;
  uint64_t at = readyUs;
  if (request.proxied) {
    // Over the jig's second port first, then the jig passes it on.
    const SimUnit* jig = connected_.get();
    const SerialConfig far = UnitLine(jig ? jig->proxyBaud : 0, false);
    if (reserve) {
      jigFromUnit_.Send(at, farBytes, far, &at);
    } else {
      at += LineTimeUs(farBytes, far);
    }
    if (jig) at += jig->timing.requestUs;
  }
  // A reply held back on purpose does not hold up the ones that overtake it.
  if (!reserve) return at + LineTimeUs(wireBytes, hostLine);
  uint64_t end = 0;
  unitToHost_.Send(at, wireBytes, hostLine, &end);
  return end;
}

uint64_t SimNetwork::Emit(SimUnit& unit, const Request& request, SimReplies& replies,
                          const std::vector<FaultRule>& hits, uint64_t doneUs) {
  // Replies leave in the order of their processing times; later ones may
  // overtake a slow one, as a windowed programmer's do.
  std::stable_sort(replies.begin(), replies.end(), [](const SimReply& a, const SimReply& b) {
    return a.delayMs + a.lateMs < b.delayMs + b.lateMs;
  });
  // A unit behind the connected one answers through it, so its reply
  // reaches the program at the connected unit's speed, not its own.
  const bool relayed = request.proxied || &unit != connected_.get();
  const SerialConfig hostLine = relayed ? JigLine() : UnitLine(unit.baudRate, unit.evenParity);
  const std::string note = unit.name + FaultNotes(hits, false);
  uint64_t last = doneUs;
  for (SimReply& reply : replies) {
    ApplyPayloadFaults(reply.payload, hits);
    ProxyHeader header = request.header;
    header.size = static_cast<uint8_t>(reply.payload.size());
    const bool framed = reply.lengthFramed || request.lengthFramed;
    const size_t farBytes = reply.payload.size() + 2 + (framed ? 2 : 0);
    FaultedReply faulted = ApplyWireFaults(
        EncodeFrame(reply.payload, framed, request.proxied ? &header : nullptr), hits);
    const uint32_t lateMs = reply.lateMs + faulted.lateMs;
    uint64_t ready = doneUs + uint64_t{lateMs} * 1000;
    if (!lineModel_) ready += uint64_t{processingMs_ + reply.delayMs} * 1000;
    // Stale or stray echoes go out just ahead of the reply.
    std::vector<std::vector<uint8_t>> extra;
    if (EchoesPrevious(hits) && !lastReplyWire_.empty()) extra.push_back(lastReplyWire_);
    for (const auto& stray : StrayEchoes(reply.payload, hits))
      extra.push_back(EncodeFrame(stray, framed, request.proxied ? &header : nullptr));
    for (std::vector<uint8_t>& bytes : extra) {
      const uint64_t end = PutOnLine(request, bytes.size(), farBytes, ready, hostLine, lateMs == 0);
      TimedOutput out;
      out.bytes = std::move(bytes);
      out.deliverAt = ToTick(end);
      out.deliverAtUs = HostUs(end);
      out.line = hostLine;
      TranscriptEntry e = Entry(TranscriptEntry::Direction::kFromUnit, out.bytes, hostLine,
                                out.deliverAt, request.number);
      e.note = note + " (extra echo)";
      transcript_.Add(std::move(e));
      output_.push_back(std::move(out));
    }
    lastReplyWire_ = EncodeFrame(reply.payload, framed, request.proxied ? &header : nullptr);
    if (faulted.copies == 0) {
      Lost(faulted.wire.data(), faulted.wire.size(), hostLine, ToTick(ready),
           note + " (reply lost)", request.number);
      last = std::max(last, ready);
      continue;
    }
    for (int i = 0; i < faulted.copies; ++i) {
      const uint64_t end =
          PutOnLine(request, faulted.wire.size(), farBytes, ready, hostLine, lateMs == 0);
      TimedOutput out;
      out.bytes = faulted.wire;
      out.deliverAt = ToTick(end);
      out.deliverAtUs = HostUs(end);
      out.line = hostLine;
      TranscriptEntry e = Entry(TranscriptEntry::Direction::kFromUnit, out.bytes, hostLine,
                                out.deliverAt, request.number);
      e.note = note;
      transcript_.Add(std::move(e));
      output_.push_back(std::move(out));
      last = std::max(last, end);
    }
  }
  return last;
}

bool SimNetwork::CanHold(const Request& request, const SimReplies& replies,
                         const std::vector<FaultRule>& hits) const {
  return lineModel_ && IsWindowedProgram(request.payload) && replies.size() == 1 &&
         replies[0].lateMs == 0 && !replies[0].payload.empty() && replies[0].payload.back() == 0 &&
         !AnyReplyFault(hits);
}

void SimNetwork::ResolveHeld(SimUnit& unit, const Request& next) {
  for (auto it = held_.begin(); it != held_.end(); ++it) {
    if (it->unit != &unit) continue;
    HeldReply held = std::move(*it);
    held_.erase(it);
    if (IsWindowedProgram(next.payload) && next.arrivalUs <= held.decideUs) {
      // The next windowed write was already waiting when the unit finished
      // this one: it goes straight on, and its reply acknowledges both.
      unit.inbox.Finish(held.inboxId, held.decideUs);
      TranscriptEntry e = Entry(TranscriptEntry::Direction::kLost, held.reply.payload,
                                held.request.line, ToTick(held.decideUs), held.request.number);
      e.note = unit.name + " (not sent: a later reply acknowledges it)";
      transcript_.Add(std::move(e));
    } else {
      ReleaseHeld(held);
    }
    return;
  }
}

void SimNetwork::ReleaseHeld(HeldReply& held) {
  SimReplies replies{std::move(held.reply)};
  const uint64_t last = Emit(*held.unit, held.request, replies, {}, held.decideUs);
  held.unit->inbox.Finish(held.inboxId, last);
  held.unit->inbox.FinishOlder(held.inboxId, WindowKind::kProgram, last);
}

void SimNetwork::ReleaseHeldOf(SimUnit& unit) {
  for (auto it = held_.begin(); it != held_.end(); ++it) {
    if (it->unit != &unit) continue;
    HeldReply held = std::move(*it);
    held_.erase(it);
    ReleaseHeld(held);
    return;
  }
}

}  // namespace kel::sim
