#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_device.h"

namespace kel {

/// The far end of an in-memory serial line: the unit simulator, or a test.
/// Time comes in two readings of the line's clock: whole-millisecond ticks
/// and microseconds. The line itself calls the microsecond functions; their
/// defaults fall back on the tick ones, so a peer that keeps time in ticks
/// needs only those.
class MemorySerialPeer {
 public:
  virtual ~MemorySerialPeer() = default;
  /// Bytes the program wrote, at tick `now`, on a line configured as `line`
  /// (speed and parity as the program set them).
  virtual void OnHostBytes(const uint8_t* data, size_t length, const SerialConfig& line,
                           uint32_t now) = 0;
  /// The same, at microsecond `nowUs`.
  virtual void OnHostBytesUs(const uint8_t* data, size_t length, const SerialConfig& line,
                             uint64_t nowUs) {
    OnHostBytes(data, length, line, TickOfMicros(nowUs));
  }
  /// Time has moved to `now`; a peer with delayed output may send it now.
  virtual void OnTime(uint32_t now) { (void)now; }
  /// The same, at microsecond `nowUs`.
  virtual void OnTimeUs(uint64_t nowUs) { OnTime(TickOfMicros(nowUs)); }
  /// The port was opened (true) or closed (false) by the program.
  virtual void OnOpen(bool open, const SerialConfig& line) {
    (void)open;
    (void)line;
  }
  /// The CTS line as the program sees it.
  virtual bool Cts() { return false; }
  /// The tick of the peer's next own event (a reply it decides on later),
  /// so that a wait for input wakes for it; false when there is none.
  virtual bool NextEvent(uint32_t& tick) {
    (void)tick;
    return false;
  }
  /// The same in microseconds, asked at microsecond `nowUs`.
  virtual bool NextEventUs(uint64_t nowUs, uint64_t& atUs) {
    uint32_t tick = 0;
    if (!NextEvent(tick)) return false;
    atUs = MicrosOfTick(nowUs, tick);
    return true;
  }
  /// The tick at which the bytes the program has written so far have all
  /// left on the line; false when they leave at once (no line time).
  virtual bool HostBytesLeaveAt(uint32_t& tick) {
    (void)tick;
    return false;
  }
  /// The same in microseconds, asked at microsecond `nowUs`.
  virtual bool HostBytesLeaveAtUs(uint64_t nowUs, uint64_t& atUs) {
    uint32_t tick = 0;
    if (!HostBytesLeaveAt(tick)) return false;
    atUs = MicrosOfTick(nowUs, tick);
    return true;
  }

  /// The tick (Clock::Ticks) of a microsecond reading.
  static uint32_t TickOfMicros(uint64_t us) { return static_cast<uint32_t>(us / 1000); }
  /// The microsecond at which tick `tick` begins, for a tick within 24 days
  /// of the reading `nowUs` (ticks wrap, microseconds do not); never below 0.
  static uint64_t MicrosOfTick(uint64_t nowUs, uint32_t tick) {
    const int64_t ticks = int64_t{static_cast<int32_t>(tick - TickOfMicros(nowUs))};
    const int64_t start = static_cast<int64_t>(nowUs / 1000) + ticks;
    return start < 0 ? 0 : static_cast<uint64_t>(start) * 1000;
  }
};

/// True when bytes sent at `sent` cannot be read intact at `heard`: the
/// speeds differ, or one side checks a parity bit the other does not send.
bool LineSettingsDiffer(const SerialConfig& sent, const SerialConfig& heard);
/// What a UART set to other settings makes of a byte: never the byte itself.
uint8_t GarbledByte(uint8_t byte);

/// A serial line held in memory. The program's side is a SerialDevice made
/// by MemorySerialPorts; the peer side is a MemorySerialPeer that answers
/// through SendToHost. Each byte carries the microsecond at which it reaches
/// the program, so a peer can answer late; waiting for input advances a
/// VirtualClock straight to the next delivery, to the microsecond, so
/// exchanges cost no real time and no rounding to whole ticks.
class MemorySerialLine {
 public:
  explicit MemorySerialLine(Clock& clock) : clock_(clock) {}

  void AttachPeer(MemorySerialPeer* peer) { peer_ = peer; }
  MemorySerialPeer* peer() const { return peer_; }
  Clock& clock() { return clock_; }

  /// Peer side: bytes that reach the program at tick `deliverAt`. With
  /// `sentWith`, bytes that the program reads while its own settings differ
  /// from those come out garbled and flag a framing (or parity) error.
  void SendToHost(const uint8_t* data, size_t length, uint32_t deliverAt,
                  const SerialConfig* sentWith = nullptr);
  /// The same, reaching the program at microsecond `deliverAtUs` of the clock.
  void SendToHostUs(const uint8_t* data, size_t length, uint64_t deliverAtUs,
                    const SerialConfig* sentWith = nullptr);
  /// Peer side: false (the default) keeps deliveries in the order sent, a
  /// batch stamped earlier than the one before it waiting for that one;
  /// true places each batch by its tick, for a peer whose answers may
  /// overtake earlier ones (a unit that answers some requests late).
  bool deliverInTimeOrder = false;

  /// Program side (used by the device).
  void HostWrite(const uint8_t* data, size_t length);
  /// Moves every byte whose time has come into `out`, up to `max`; returns the count.
  size_t HostRead(uint8_t* out, size_t max);
  /// True when a byte has reached the program by now.
  bool HostReadable();
  /// The tick of the next pending delivery, if any: the first tick at
  /// which it can be read.
  bool NextDelivery(uint32_t& tick) const;
  /// The microsecond of the next pending delivery, if any.
  bool NextDeliveryUs(uint64_t& us) const;
  void HostPurge();

  /// The line settings the program has open (speed, parity), or closed.
  bool isOpen = false;
  SerialConfig config;
  /// When not kOpened, the next Open of this line fails so, with this text
  /// (every Open with `openFailureStays`, as a refused permission does).
  SerialOpenOutcome openFailure = SerialOpenOutcome::kOpened;
  std::string openFailureText;
  bool openFailureStays = false;
  /// Opens fail as in use until the clock reaches this tick; an open line
  /// is also in use to a second opener.
  uint32_t busyUntil = 0;
  /// Speeds above this (when non-zero) are refused, at open and in place.
  int32_t maxBaudRate = 0;
  /// The device has gone (a USB adapter pulled out): transfers on an open
  /// device fail and the port is no longer present.
  bool unplugged = false;
  /// Line errors that the next TakeLineErrors reports (and clears).
  LineErrors pendingErrors;
  /// Total bytes each way, for tests.
  uint64_t bytesFromHost = 0;
  uint64_t bytesToHost = 0;

 private:
  struct Pending {
    uint64_t deliverAtUs;
    uint8_t byte;
    bool checked = false;  ///< sender's settings known
    int32_t sentBaud = 0;
    bool sentParity = false;
    bool sentEven = false;
  };
  uint8_t Received(const Pending& pending);
  Clock& clock_;
  MemorySerialPeer* peer_ = nullptr;
  std::deque<Pending> toHost_;
};

/// COM ports backed by in-memory lines: port n exists once a line is added.
class MemorySerialPorts : public SerialPortOpener {
 public:
  explicit MemorySerialPorts(Clock& clock) : clock_(clock) {}
  /// Creates (or returns) the line of COM`portNumber`.
  MemorySerialLine& AddLine(int portNumber);
  MemorySerialLine* Line(int portNumber);
  std::unique_ptr<SerialDevice> Open(int portNumber, const SerialConfig& config,
                                     SerialOpenError& error) override;
  /// The list of ports given below, when there is one.
  bool ListPorts(std::vector<PortListing>& ports) override {
    ports = listing;
    return hasListing;
  }
  /// A listed port's number; a number past the list for any other path.
  int NumberForDevice(const std::string& path) override;
  std::string DeviceOf(int portNumber) override;
  /// The latency timers below, by port.
  bool AdapterLatency(int portNumber, uint32_t& ms, std::string& setting) override {
    const auto found = latencyTimers.find(portNumber);
    if (found == latencyTimers.end()) return false;
    ms = found->second;
    setting = "latency timer of COM" + std::to_string(portNumber);
    return true;
  }

  /// The system's list, as a search sees it; with hasListing false (the
  /// default) there is none and a search tries every number.
  bool hasListing = false;
  std::vector<PortListing> listing;
  /// Ports whose adapter's driver reports a latency timer, in ms.
  std::map<int, uint32_t> latencyTimers;

 private:
  Clock& clock_;
  std::map<int, std::unique_ptr<MemorySerialLine>> lines_;
  std::map<int, std::string> named_;  // numbers given to devices named by path
};

}  // namespace kel
