#include "platform/memory_serial.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace kel {

namespace {

// The words a system would use for these failures.
constexpr char kNotPresentText[] = "No such device";
constexpr char kInUseText[] = "Device or resource busy";
constexpr char kBadSettingText[] = "Invalid argument";
constexpr char kGoneText[] = "Input/output error";

void SetOpenError(SerialOpenError& error, SerialOpenOutcome outcome, const std::string& text,
                  int portNumber) {
  error.outcome = outcome;
  error.systemText = text;
  error.device = "memory line " + std::to_string(portNumber);
}

// The program's side of an in-memory line. Writes reach the peer at once;
// waiting for input moves the clock to the next delivery instead of
// sleeping, so with a VirtualClock an exchange costs no real time.
class MemorySerialDevice : public SerialDevice {
 public:
  explicit MemorySerialDevice(MemorySerialLine& line) : line_(line) {}
  ~MemorySerialDevice() override {
    line_.isOpen = false;
    if (line_.peer()) line_.peer()->OnOpen(false, line_.config);
  }

  int Read(uint8_t* data, size_t max) override {
    if (line_.unplugged) return Gone();
    return static_cast<int>(line_.HostRead(data, max));
  }

  bool WaitReadable(uint32_t timeoutMs) override {
    Clock& clock = line_.clock();
    // The wait ends at a whole tick, as it would on the program's own clock.
    const uint64_t deadline = (clock.Micros() / 1000 + timeoutMs) * 1000;
    bool toldNow = false;
    for (;;) {
      if (line_.HostReadable()) return true;
      const uint64_t now = clock.Micros();
      uint64_t next = deadline;
      uint64_t at = 0;
      // A delivery stamped in the past counts as due now.
      if (line_.NextDeliveryUs(at)) {
        if (at <= now) return true;
        next = std::min(next, at);
      }
      // The peer may decide on a reply later: wake for that too, and let
      // it act at once on a decision already due.
      if (line_.peer() && line_.peer()->NextEventUs(now, at)) {
        if (at <= now && !toldNow) {
          toldNow = true;
          Tell();
          continue;
        }
        if (at > now) next = std::min(next, at);
      }
      const bool wait = next > now;
      if (wait) {
        clock.SleepMicros(next - now);
        toldNow = false;
      }
      Tell();
      if (!wait || clock.Micros() >= deadline) return line_.HostReadable();
    }
  }

  int Write(const uint8_t* data, size_t length) override {
    if (line_.unplugged) return Gone();
    line_.HostWrite(data, length);
    return static_cast<int>(length);
  }
  bool Drain(uint32_t timeoutMs) override {
    // A peer that puts the bytes on a line of its own speed lets them
    // leave in their time; waiting for that moves the clock.
    Clock& clock = line_.clock();
    const uint64_t now = clock.Micros();
    uint64_t leaveAt = 0;
    if (!line_.peer() || !line_.peer()->HostBytesLeaveAtUs(now, leaveAt)) return true;
    if (leaveAt <= now) return true;
    const uint64_t deadline = (now / 1000 + timeoutMs) * 1000;
    if (leaveAt > deadline) {
      if (deadline > now) clock.SleepMicros(deadline - now);
      Tell();
      failure_.timedOut = true;
      failure_.systemText.clear();
      return false;
    }
    clock.SleepMicros(leaveAt - now);
    Tell();
    return true;
  }
  bool Purge() override {
    line_.HostPurge();
    return true;
  }
  bool TakeLineErrors(LineErrors& errors) override {
    errors = line_.pendingErrors;
    line_.pendingErrors = LineErrors{};
    return true;
  }
  bool Cts() override { return line_.peer() ? line_.peer()->Cts() : false; }
  bool SetSpeedInPlace(int32_t baudRate) override {
    if (baudRate <= 0 || (line_.maxBaudRate != 0 && baudRate > line_.maxBaudRate)) {
      failure_.systemText = kBadSettingText;
      return false;
    }
    // The parity the line was opened with stays; checking and flow control go off.
    line_.config.baudRate = baudRate;
    line_.config.ctsFlow = false;
    return true;
  }
  const SerialFailure& LastFailure() override { return failure_; }

 private:
  int Gone() {
    failure_.systemText = kGoneText;
    return -1;
  }

  void Tell() {
    if (line_.peer()) line_.peer()->OnTimeUs(line_.clock().Micros());
  }

  MemorySerialLine& line_;
  SerialFailure failure_;
};

}  // namespace

bool LineSettingsDiffer(const SerialConfig& sent, const SerialConfig& heard) {
  const bool sentParity = sent.parityOn;
  const bool heardParity = heard.parityOn;
  if (sent.baudRate != heard.baudRate || sentParity != heardParity) return true;
  return sentParity && sent.evenParity != heard.evenParity;
}

uint8_t GarbledByte(uint8_t byte) {
  // Sampled at the wrong bit times the bits come out shifted and mixed with
  // start, stop and parity bits; any fixed change that never leaves the
  // byte intact stands for that.
  const uint8_t mixed = static_cast<uint8_t>(((byte << 3) | (byte >> 5)) ^ 0xA7);
  return mixed != byte ? mixed : static_cast<uint8_t>(byte ^ 0xFF);
}

void MemorySerialLine::SendToHost(const uint8_t* data, size_t length, uint32_t deliverAt,
                                  const SerialConfig* sentWith) {
  SendToHostUs(data, length, MemorySerialPeer::MicrosOfTick(clock_.Micros(), deliverAt), sentWith);
}

void MemorySerialLine::SendToHostUs(const uint8_t* data, size_t length, uint64_t deliverAtUs,
                                    const SerialConfig* sentWith) {
  Pending model{deliverAtUs, 0};
  if (sentWith) {
    model.checked = true;
    model.sentBaud = sentWith->baudRate;
    model.sentParity = sentWith->parityOn;
    model.sentEven = sentWith->evenParity;
  }
  bytesToHost += length;
  if (deliverInTimeOrder) {
    // After every byte due no later than this batch, so batches stay whole.
    std::vector<Pending> batch(length, model);
    for (size_t i = 0; i < length; ++i) batch[i].byte = data[i];
    auto at = toHost_.end();
    while (at != toHost_.begin() && std::prev(at)->deliverAtUs > deliverAtUs) --at;
    toHost_.insert(at, batch.begin(), batch.end());
    return;
  }
  // Deliveries stay in time order even if a peer stamps a later batch earlier.
  if (!toHost_.empty() && deliverAtUs < toHost_.back().deliverAtUs) {
    model.deliverAtUs = toHost_.back().deliverAtUs;
  }
  for (size_t i = 0; i < length; ++i) {
    model.byte = data[i];
    toHost_.push_back(model);
  }
}

uint8_t MemorySerialLine::Received(const Pending& pending) {
  if (!pending.checked) return pending.byte;
  SerialConfig sent;
  sent.baudRate = pending.sentBaud;
  sent.parityOn = pending.sentParity;
  sent.evenParity = pending.sentEven;
  if (!LineSettingsDiffer(sent, config)) return pending.byte;
  if (sent.baudRate != config.baudRate) {
    pendingErrors.framing = true;
  } else {
    pendingErrors.parity = true;
  }
  return GarbledByte(pending.byte);
}

void MemorySerialLine::HostWrite(const uint8_t* data, size_t length) {
  bytesFromHost += length;
  if (peer_ && length > 0) peer_->OnHostBytesUs(data, length, config, clock_.Micros());
}

size_t MemorySerialLine::HostRead(uint8_t* out, size_t max) {
  const uint64_t now = clock_.Micros();
  size_t n = 0;
  while (n < max && !toHost_.empty() && toHost_.front().deliverAtUs <= now) {
    out[n++] = Received(toHost_.front());
    toHost_.pop_front();
  }
  return n;
}

bool MemorySerialLine::HostReadable() {
  return !toHost_.empty() && toHost_.front().deliverAtUs <= clock_.Micros();
}

bool MemorySerialLine::NextDelivery(uint32_t& tick) const {
  uint64_t us = 0;
  if (!NextDeliveryUs(us)) return false;
  tick = MemorySerialPeer::TickOfMicros(us + 999);
  return true;
}

bool MemorySerialLine::NextDeliveryUs(uint64_t& us) const {
  if (toHost_.empty()) return false;
  us = toHost_.front().deliverAtUs;
  return true;
}

void MemorySerialLine::HostPurge() {
  // Only what has already reached the port is discarded; bytes still on
  // their way arrive after the purge, as on a real line.
  const uint64_t now = clock_.Micros();
  while (!toHost_.empty() && toHost_.front().deliverAtUs <= now) toHost_.pop_front();
}

MemorySerialLine& MemorySerialPorts::AddLine(int portNumber) {
  auto& slot = lines_[portNumber];
  if (!slot) slot = std::make_unique<MemorySerialLine>(clock_);
  return *slot;
}

MemorySerialLine* MemorySerialPorts::Line(int portNumber) {
  auto it = lines_.find(portNumber);
  return it == lines_.end() ? nullptr : it->second.get();
}

std::unique_ptr<SerialDevice> MemorySerialPorts::Open(int portNumber, const SerialConfig& config,
                                                      SerialOpenError& error) {
  error = SerialOpenError{};
  MemorySerialLine* line = Line(portNumber);
  if (!line || line->unplugged) {
    SetOpenError(error, SerialOpenOutcome::kNotPresent, kNotPresentText, portNumber);
    return nullptr;
  }
  if (line->openFailure != SerialOpenOutcome::kOpened) {
    SetOpenError(error, line->openFailure, line->openFailureText, portNumber);
    if (!line->openFailureStays) line->openFailure = SerialOpenOutcome::kOpened;
    return nullptr;
  }
  if (line->isOpen ||
      (line->busyUntil != 0 && static_cast<int32_t>(clock_.Ticks() - line->busyUntil) < 0)) {
    SetOpenError(error, SerialOpenOutcome::kInUse, kInUseText, portNumber);
    return nullptr;
  }
  if (config.baudRate <= 0 || (line->maxBaudRate != 0 && config.baudRate > line->maxBaudRate)) {
    SetOpenError(error, SerialOpenOutcome::kBadSetting, kBadSettingText, portNumber);
    return nullptr;
  }
  line->config = config;
  line->isOpen = true;
  if (line->peer()) line->peer()->OnOpen(true, config);
  return std::make_unique<MemorySerialDevice>(*line);
}

int MemorySerialPorts::NumberForDevice(const std::string& path) {
  int highest = 0;
  for (const PortListing& port : listing) {
    if (port.device == path) return port.number;
    highest = std::max(highest, port.number);
  }
  for (const auto& [number, device] : named_) {
    if (device == path) return number;
    highest = std::max(highest, number);
  }
  named_[highest + 1] = path;
  return highest + 1;
}

std::string MemorySerialPorts::DeviceOf(int portNumber) {
  const auto named = named_.find(portNumber);
  if (named != named_.end()) return named->second;
  for (const PortListing& port : listing) {
    if (port.number == portNumber) return port.device;
  }
  return {};
}

}  // namespace kel
