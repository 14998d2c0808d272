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
    if (line_.HostReadable()) return true;
    Clock& clock = line_.clock();
    uint32_t next = 0;
    if (line_.NextDelivery(next)) {
      uint32_t wait = next - clock.Ticks();
      // A delivery stamped in the past counts as due now.
      if (static_cast<int32_t>(wait) <= 0) return true;
      if (wait <= timeoutMs) {
        clock.Sleep(wait);
        Tell();
        return line_.HostReadable();
      }
    }
    if (timeoutMs > 0) clock.Sleep(timeoutMs);
    Tell();
    return line_.HostReadable();
  }

  int Write(const uint8_t* data, size_t length) override {
    if (line_.unplugged) return Gone();
    line_.HostWrite(data, length);
    return static_cast<int>(length);
  }
  bool Drain(uint32_t) override { return true; }
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
    if (line_.peer()) line_.peer()->OnTime(line_.clock().Ticks());
  }

  MemorySerialLine& line_;
  SerialFailure failure_;
};

}  // namespace

void MemorySerialLine::SendToHost(const uint8_t* data, size_t length, uint32_t deliverAt) {
  if (deliverInTimeOrder) {
    // After every byte due no later than this batch, so batches stay whole.
    auto at = toHost_.end();
    while (at != toHost_.begin() && static_cast<int32_t>(deliverAt - std::prev(at)->deliverAt) < 0) --at;
    std::vector<Pending> batch;
    for (size_t i = 0; i < length; ++i) batch.push_back({deliverAt, data[i]});
    toHost_.insert(at, batch.begin(), batch.end());
    bytesToHost += length;
    return;
  }
  // Deliveries stay in time order even if a peer stamps a later batch earlier.
  if (!toHost_.empty() && static_cast<int32_t>(deliverAt - toHost_.back().deliverAt) < 0) {
    deliverAt = toHost_.back().deliverAt;
  }
  for (size_t i = 0; i < length; ++i) toHost_.push_back({deliverAt, data[i]});
  bytesToHost += length;
}

void MemorySerialLine::HostWrite(const uint8_t* data, size_t length) {
  bytesFromHost += length;
  if (peer_ && length > 0) peer_->OnHostBytes(data, length, config, clock_.Ticks());
}

size_t MemorySerialLine::HostRead(uint8_t* out, size_t max) {
  const uint32_t now = clock_.Ticks();
  size_t n = 0;
  while (n < max && !toHost_.empty() &&
         static_cast<int32_t>(now - toHost_.front().deliverAt) >= 0) {
    out[n++] = toHost_.front().byte;
    toHost_.pop_front();
  }
  return n;
}

bool MemorySerialLine::HostReadable() {
  return !toHost_.empty() &&
         static_cast<int32_t>(clock_.Ticks() - toHost_.front().deliverAt) >= 0;
}

bool MemorySerialLine::NextDelivery(uint32_t& tick) const {
  if (toHost_.empty()) return false;
  tick = toHost_.front().deliverAt;
  return true;
}

void MemorySerialLine::HostPurge() {
  // Only what has already reached the port is discarded; bytes still on
  // their way arrive after the purge, as on a real line.
  const uint32_t now = clock_.Ticks();
  while (!toHost_.empty() && static_cast<int32_t>(now - toHost_.front().deliverAt) >= 0) {
    toHost_.pop_front();
  }
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
    line->openFailure = SerialOpenOutcome::kOpened;
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

}  // namespace kel
