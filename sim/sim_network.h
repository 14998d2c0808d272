#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial_device.h"
#include "sim/faults.h"
#include "sim/frame_codec.h"
#include "sim/role_handlers.h"
#include "sim/sim_unit.h"
#include "sim/transcript.h"

namespace kel::sim {

/// Bytes a unit puts on the line and the tick at which they have fully
/// reached the program.
struct TimedOutput {
  uint32_t deliverAt = 0;
  std::vector<uint8_t> bytes;
};

/// The units behind one serial port: the connected unit, the units on its
/// network (reached through it at their own addresses) and, when the
/// connected unit is a test jig, the unit on the jig's second port (reached
/// through proxied frames). Bytes from the program go in through Feed; the
/// units' answers come out, time-stamped, through TakeOutput. Transport
/// independent: the in-memory peer and the pseudo-terminal server both
/// drive it.
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
  /// The program opened the port (CTS timing starts here).
  void PortOpened(uint32_t now);
  /// Bytes from the program at tick `now` on a line set to `line`.
  void Feed(const uint8_t* data, size_t length, const SerialConfig& line, uint32_t now);
  /// Time has moved on: finishes restarts that are due.
  void Advance(uint32_t now);
  /// The earliest tick at which a restart finishes; false when none is running.
  bool NextEvent(uint32_t& tick) const;
  /// Takes the bytes the units have sent since the last call, in delivery order.
  std::vector<TimedOutput> TakeOutput();
  /// The CTS line as the connected unit drives it.
  bool Cts(uint32_t now) const;

  Transcript& transcript() { return transcript_; }
  FaultPlan& faults() { return faults_; }
  /// Paces replies at the line rate (11 bits a byte) after the processing time.
  void SetLineModel(bool on) { lineModel_ = on; }
  /// A unit's processing time before a reply leaves.
  void SetProcessingMs(uint32_t ms) { processingMs_ = ms; }
  /// Pulls the cable (true) or puts it back.
  void SetUnplugged(bool unplugged) { unplugged_ = unplugged; }
  bool unplugged() const { return unplugged_; }
  /// Requests the units understood and acted on.
  uint64_t requestsHandled() const { return requestsHandled_; }

  /// True when a unit in its present state hears bytes sent with `line`
  /// (speed and parity match, or it finds the speed by itself).
  static bool Hears(const SimUnit& unit, const SerialConfig& line);

 private:
  void HandleFrame(const DecodedFrame& frame, const SerialConfig& line, uint32_t now);
  void ForwardThroughJig(const DecodedFrame& frame, uint32_t now);
  SimUnit* Route(uint8_t address);
  bool Dispatch(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies);
  /// Frames and queues the replies; returns the tick the last one is delivered.
  uint32_t Emit(SimUnit& unit, SimReplies& replies, const std::vector<FaultRule>& hits, bool lengthFramed,
            const ProxyHeader* proxy, int32_t baudRate, uint32_t now);
  void AfterRequest(SimUnit& unit, SimRole roleBefore, uint32_t replyDone);
  void StartRestart(SimUnit& unit, uint32_t at, SimRole role);
  void FinishRestart(SimUnit& unit);
  void Lost(const uint8_t* data, size_t length, const SerialConfig& line, uint32_t now, const char* why);
  std::vector<uint8_t> RemoteAddresses();
  void Adopt(SimUnit& unit, Place place);

  RoleHandlers handlers_;
  std::unique_ptr<SimUnit> connected_;
  std::vector<std::unique_ptr<SimUnit>> network_;
  std::unique_ptr<SimUnit> jigPort_;
  FrameDecoder decoder_;
  Transcript transcript_;
  FaultPlan faults_;
  std::vector<TimedOutput> output_;
  bool lineModel_ = false;
  bool unplugged_ = false;
  uint32_t processingMs_ = 2;
  uint32_t lastByteAt_ = 0;
  uint32_t lineFreeAt_ = 0;
  uint32_t openedAt_ = 0;
  uint64_t requestsHandled_ = 0;
};

}  // namespace kel::sim
