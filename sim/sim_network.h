#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial_device.h"
#include "sim/faults.h"
#include "sim/frame_codec.h"
#include "sim/line_timing.h"
#include "sim/role_handlers.h"
#include "sim/sim_unit.h"
#include "sim/transcript.h"

namespace kel::sim {

/// Bytes a unit puts on the line, the tick at which they have fully
/// reached the program, and the line settings they were sent with (read at
/// other settings they arrive garbled).
struct TimedOutput {
  uint32_t deliverAt = 0;
  uint64_t deliverAtUs = 0;  ///< the same moment to the microsecond (deliverAt rounds up)
  std::vector<uint8_t> bytes;
  SerialConfig line;
};

/// The units behind one serial port: the connected unit, the units on its
/// network (reached through it at their own addresses) and, when the
/// connected unit is a test jig, the unit on the jig's second port (reached
/// through proxied frames). Bytes from the program go in through Feed; the
/// units' answers come out, time-stamped, through TakeOutput. Transport
/// independent: the in-memory peer and the pseudo-terminal server both
/// drive it. Time comes in as millisecond ticks or, through the ...Us
/// functions, as microseconds of the same clock (tick = us / 1000); the
/// units keep time in microseconds from power-on either way.
class SimNetwork {
 public:
  enum class Place : uint8_t {
    kConnected,  ///< wired to the port
    kNetwork,    ///< on the connected unit's network
    kJigPort,    ///< on the test jig's second port
  };

  explicit SimNetwork(RoleHandlers handlers = DefaultRoleHandlers());
  SimNetwork(const SimNetwork&) = delete;
  SimNetwork& operator=(const SimNetwork&) = delete;

  /// Adds a copy of `unit` at `place` and returns it. A second connected or
  /// jig-port unit replaces the first.
  SimUnit& AddUnit(const SimUnit& unit, Place place);
  SimUnit* connected() { return connected_.get(); }
  SimUnit* jigPortUnit() { return jigPort_.get(); }
  const std::vector<std::unique_ptr<SimUnit>>& networkUnits() const { return network_; }
  /// Every unit, connected first.
  std::vector<SimUnit*> AllUnits();
  SimUnit* Find(const std::string& name);

  /// Brings every unit up in its starting role at tick `now`.
  void PowerOn(uint32_t now);
  void PowerOnUs(uint64_t nowUs);
  /// Switches every unit off and on at tick `now`: each restarts into its
  /// starting role (the boot loader when its software area holds none),
  /// with RAM, a running programmer and any silence gone.
  void PowerCycle(uint32_t now);
  /// The program opened the port (CTS timing starts here).
  void PortOpened(uint32_t now);
  /// Bytes from the program at tick `now` on a line set to `line`. The
  /// units act on each request once its last byte has arrived: at once, or
  /// with the line model after the bytes' line time.
  void Feed(const uint8_t* data, size_t length, const SerialConfig& line, uint32_t now);
  void FeedUs(const uint8_t* data, size_t length, const SerialConfig& line, uint64_t nowUs);
  /// Time has moved on: finishes restarts that are due and sends the
  /// replies a busy unit held back to see whether more requests queue up.
  void Advance(uint32_t now);
  void AdvanceToUs(uint64_t nowUs);
  /// The earliest tick at which a restart finishes or a held-back reply is
  /// decided on; false when there is none.
  bool NextEvent(uint32_t& tick) const;
  bool NextEventUs(uint64_t& us) const;
  /// Takes the bytes the units have sent since the last call, in delivery order.
  std::vector<TimedOutput> TakeOutput();
  /// With the line model: the tick by which the program's bytes written so
  /// far have all left on the line; false without it (they leave at once).
  bool HostBytesLeaveAt(uint32_t& tick) const {
    if (!lineModel_) return false;
    tick = ToTick(hostToUnit_.freeAt());
    return true;
  }
  bool HostBytesLeaveAtUs(uint64_t& us) const {
    if (!lineModel_) return false;
    us = HostUs(hostToUnit_.freeAt());
    return true;
  }
  /// The CTS line as the connected unit drives it.
  bool Cts(uint32_t now) const;

  Transcript& transcript() { return transcript_; }
  FaultPlan& faults() { return faults_; }
  /// The line model: every byte occupies the line for its bits at the
  /// line's speed in both directions, and each unit is busy for its
  /// processing time per request (UnitTiming) while later requests wait in
  /// its receive buffer. Without it replies leave a fixed processing time
  /// after the request.
  void SetLineModel(bool on) { lineModel_ = on; }
  bool lineModel() const { return lineModel_; }
  /// Without the line model: a unit's processing time before a reply leaves.
  void SetProcessingMs(uint32_t ms) { processingMs_ = ms; }
  /// Pulls the cable (true) or puts it back.
  void SetUnplugged(bool unplugged) { unplugged_ = unplugged; }
  bool unplugged() const { return unplugged_; }
  /// Requests the units understood and acted on.
  uint64_t requestsHandled() const { return requestsHandled_; }
  /// Requests received on the port so far: every frame the units' side
  /// decoded, numbered from 1 in the transcript and for the fault rules.
  uint64_t requestCount() const { return requestCount_; }

  /// True when a unit in its present state hears bytes sent with `line`
  /// (speed and parity match, or it finds the speed by itself).
  static bool Hears(const SimUnit& unit, const SerialConfig& line);

 private:
  /// One request on its way to a unit.
  struct Request {
    std::vector<uint8_t> payload;
    bool lengthFramed = false;
    bool proxied = false;    ///< came through the test jig's proxy
    ProxyHeader header;      ///< for the replies through the jig
    SerialConfig line;       ///< the program's settings when it sent it
    uint64_t firstUs = 0;    ///< its first byte reached the unit
    uint64_t arrivalUs = 0;  ///< its last byte reached the unit
    size_t wireBytes = 0;    ///< as received, for the receive buffer
    uint64_t number = 0;     ///< the port's request number
  };
  /// A windowed program reply a busy unit holds until it finishes the
  /// request: a further windowed request waiting by then gets the one reply
  /// for both.
  struct HeldReply {
    SimUnit* unit = nullptr;
    Request request;
    SimReply reply;
    uint64_t decideUs = 0;
    uint64_t inboxId = 0;
  };

  uint64_t ToUs(uint32_t tick) const {
    return uint64_t{static_cast<uint32_t>(tick - epochMs_)} * 1000;
  }
  uint32_t ToTick(uint64_t us) const { return epochMs_ + static_cast<uint32_t>((us + 999) / 1000); }
  /// Between the units' microseconds and the microseconds of the caller's clock.
  uint64_t HostUs(uint64_t us) const { return epochUs_ + us; }
  uint64_t FromHostUs(uint64_t hostUs) const { return hostUs > epochUs_ ? hostUs - epochUs_ : 0; }
  void StartAt(uint32_t tick, uint64_t tickUs);
  void FeedAt(const uint8_t* data, size_t length, const SerialConfig& line, uint64_t nowUs);
  void ReachUs(uint64_t us, bool inclusive);
  void HandleIsp(SimUnit& unit, const uint8_t* data, size_t length, const SerialConfig& line,
                 uint64_t arrivalUs);
  void HandleFrame(const DecodedFrame& frame, const SerialConfig& line, uint64_t firstUs,
                   uint64_t arrivalUs);
  void ForwardThroughJig(Request request, TranscriptEntry in);
  void Receive(SimUnit& unit, Request request, TranscriptEntry in);
  void Process(SimUnit& unit, const Request& request, const std::vector<FaultRule>& hits,
               const FaultRule* powerLoss);
  SimUnit* Route(uint8_t address);
  bool Dispatch(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies);
  /// Frames and queues the replies of a request the unit finished at
  /// `doneUs`; returns the time the last one has left.
  uint64_t Emit(SimUnit& unit, const Request& request, SimReplies& replies,
                const std::vector<FaultRule>& hits, uint64_t doneUs);
  /// Puts a reply on the line(s) to the program; returns when its last byte has arrived.
  uint64_t PutOnLine(const Request& request, size_t wireBytes, size_t farBytes, uint64_t readyUs,
                     const SerialConfig& hostLine, bool reserve);
  bool CanHold(const Request& request, const SimReplies& replies,
               const std::vector<FaultRule>& hits) const;
  void ResolveHeld(SimUnit& unit, const Request& next);
  void ReleaseHeld(HeldReply& held);
  void ReleaseHeldOf(SimUnit& unit);
  void AfterRequest(SimUnit& unit, SimRole roleBefore, uint32_t replyDone);
  void StartRestart(SimUnit& unit, uint32_t at, SimRole role,
                    RestartCause cause = RestartCause::kRequest);
  void FinishRestart(SimUnit& unit);
  void Lost(const uint8_t* data, size_t length, const SerialConfig& line, uint32_t now,
            const std::string& why, uint64_t request = 0);
  TranscriptEntry Entry(TranscriptEntry::Direction direction, std::vector<uint8_t> bytes,
                        const SerialConfig& line, uint32_t tick, uint64_t request) const;
  SerialConfig JigLine() const;
  std::vector<uint8_t> RemoteAddresses();
  void Adopt(SimUnit& unit, Place place);

  RoleHandlers handlers_;
  std::unique_ptr<SimUnit> connected_;
  std::vector<std::unique_ptr<SimUnit>> network_;
  std::unique_ptr<SimUnit> jigPort_;
  FrameDecoder decoder_;
  ArrivalLog arrivals_;
  uint64_t streamIndex_ = 0;  ///< bytes pushed into the decoder so far
  LineDirection hostToUnit_;
  LineDirection unitToHost_;
  LineDirection jigToUnit_;  ///< the jig's second port, towards the unit behind it
  LineDirection jigFromUnit_;
  std::vector<HeldReply> held_;
  Transcript transcript_;
  FaultPlan faults_;
  std::vector<TimedOutput> output_;
  std::vector<uint8_t> lastReplyWire_;  ///< the last reply framed, for an echo-previous fault
  bool lineModel_ = false;
  bool unplugged_ = false;
  uint32_t processingMs_ = 2;
  uint32_t epochMs_ = 0;  ///< tick of power-on: time zero of the microsecond clock
  uint64_t epochUs_ = 0;  ///< the start of that tick on the caller's microsecond clock
  uint64_t lastByteUs_ = 0;
  uint32_t openedAt_ = 0;
  uint64_t ctsLowUntilUs_ = 0;
  uint64_t requestsHandled_ = 0;
  uint64_t requestCount_ = 0;
};

}  // namespace kel::sim
