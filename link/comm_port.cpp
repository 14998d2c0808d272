#include "link/comm_port.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "link/port_open_messages.h"
#include "platform/files.h"
#include "platform/signals.h"
#include "platform/system_error.h"
#include "runtime/debugger_trace.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"

namespace kel {

namespace {

constexpr const char* kLockDirVariable = "PONDERIXLOCKDIR";
constexpr const char* kLockFilePrefix = "lockPonderixCommPort";
// A queued write may take 1 ms per byte of a full ring plus a second before
// it counts as timed out, as the device write timeouts allow on Windows.
constexpr uint32_t kWriteWaitMs = 1000 + CommPort::kBufferSize;
constexpr size_t kRecordBytes = 17;  // bytes shown in a transfer record

bool InUse(const SerialOpenError& error) { return error.outcome == SerialOpenOutcome::kInUse; }

// Said when a transfer is asked of a port that is not open.
constexpr char kNotOpenText[] = "the port is not open";

}  // namespace

CommPort::CommPort(Runtime& runtime, SerialPortOpener& opener)
    : runtime_(runtime),
      opener_(opener),
      settings_(runtime.options.liveLink()),
      receive_(kBufferSize),
      transmit_(kBufferSize) {}

void CommPort::RegisterClosePort() {
  runtime_.closePort = [this] { ClosePort(); };
  closePortRegistered_ = true;
}

CommPort::~CommPort() {
  // main closes the port itself; this only keeps a forgotten port from
  // leaving its lock marker behind, and the runtime from calling a dead object.
  if (isOpen() || !settings_.lockFilePath.empty()) ClosePort();
  if (closePortRegistered_) runtime_.closePort = nullptr;
}

// ---- Opening and closing -------------------------------------------------

bool CommPort::OpenCommPort(int portNumber, int32_t speed, int stopBits, bool parityOn,
                            bool evenParity, bool ctsFlow, uint16_t operationTimeoutMs) {
  device_.reset();
  operationTimeoutMs_ = operationTimeoutMs;
  lastOpenError_ = SerialOpenError{};

  SerialConfig config;
  config.baudRate = speed;
  config.parityOn = parityOn;
  config.evenParity = evenParity;
  config.stopBits = stopBits == 1 ? 1 : 2;
  config.ctsFlow = ctsFlow;
  DebuggerTrace(runtime_.clock, "COM" + std::to_string(portNumber) +
                                    ":Speed=" + std::to_string(speed) +
                                    " StopBits=" + std::to_string(config.stopBits) +
                                    " Parity=" + std::to_string(parityOn ? 1 : 0));

  device_ = opener_.Open(portNumber, config, lastOpenError_);
  if (!device_) {
    // An opener that failed without saying why must not pass for success.
    if (lastOpenError_.outcome == SerialOpenOutcome::kOpened) {
      lastOpenError_.outcome = SerialOpenOutcome::kOther;
    }
    return false;
  }
  // A fresh port starts with empty queues and no stale line errors.
  if (!device_->Purge()) {
    lastOpenError_.outcome = SerialOpenOutcome::kOther;
    lastOpenError_.systemText = device_->LastFailure().systemText;
    ReportSystemError(lastOpenError_.systemText);
    device_.reset();
    return false;
  }
  LineErrors stale;
  device_->TakeLineErrors(stale);
  return true;
}

void CommPort::CloseDevice() { device_.reset(); }

bool CommPort::OpenAt(int32_t speed) {
  return OpenCommPort(settings_.portNumber, speed, settings_.stopBits, settings_.evenParity,
                      settings_.evenParity, settings_.hardwareHandshake, 0);
}

void CommPort::CloseForReopen(const char* who) {
  runtime_.out.Print(Sink::kDetail, who, " closing comm port: ", settings_.portNumber, "\r\n");
  FlushPendingWrites();
  PurgeAndReportErrors();
  CloseDevice();
}

bool CommPort::OpenPort() {
  Output& out = runtime_.out;
  const int16_t port = settings_.portNumber;

  // Opening at a fast programmer speed first proves the port can do it
  // before any unit traffic depends on it.
  int32_t speed = settings_.baudRate;
  const bool viaProgrammerRate =
      settings_.programmerBaudRate > 115200 && settings_.programmerBaudRate != settings_.baudRate;
  if (viaProgrammerRate) {
    speed = settings_.programmerBaudRate;
    out.Print(Sink::kDetail, "OpenPort", " using programmer baud rate ", speed, "\r\n");
  }

  bool opened = false;
  int dots = 0;
  for (int attempt = 1;; ++attempt) {
    out.Print(Sink::kDetail, "OpenPort", " opening comm port: ", port, " ", speed, "\r\n");
    if (OpenAt(speed)) {
      opened = true;
      break;
    }
    if (!InUse(lastOpenError_)) break;
    out.Print(Sink::kInfo, ".");
    ++dots;
    if (attempt >= kOpenAttempts) break;
    runtime_.clock.Sleep(kBusyRetryMs);
  }
  if (dots > 0) out.Print(Sink::kInfo, "\r\n");
  if (!opened && !InUse(lastOpenError_)) ReportOpenError(lastOpenError_);

  if (opened && viaProgrammerRate) {
    CloseForReopen("OpenPort");
    out.Print(Sink::kDetail, "OpenPort", " opening comm port: ", port, " ", settings_.baudRate,
              "\r\n");
    opened = OpenAt(settings_.baudRate);
    if (!opened) ReportOpenError(lastOpenError_);
  }
  // The marker is made once the port is this run's: a run that finds the
  // port busy (or is stopped during its dots) never touches the marker of
  // the run that holds it.
  if (opened) CreateLockFile();
  return opened;
}

void CommPort::ClosePort() {
  if (isOpen()) CloseForReopen("ClosePort");
  DeleteLockFile("ClosePort");
}

bool CommPort::ChangeBaudRate() {
  Output& out = runtime_.out;
  const int16_t port = settings_.portNumber;
  if (isOpen()) CloseForReopen("ChangeBaudRate");
  for (int attempt = 1;; ++attempt) {
    out.Print(Sink::kDetail, "ChangeBaudRate", " opening comm port: ", port, " ",
              settings_.baudRate, "\r\n");
    if (OpenAt(settings_.baudRate)) return true;
    out.Print(Sink::kDebug, "Error re-opening port: ");
    ReportOpenError(lastOpenError_);
    if (lastOpenError_.outcome == SerialOpenOutcome::kBadSetting) return false;
    // On the way out of the run (Runtime::RestoreLink) a port that will not
    // reopen only ends the put-back; the way out keeps its own message.
    if (attempt >= kReopenAttempts && runtime_.restoringLink) return false;
    if (attempt >= kReopenAttempts) {
      // The port is named: a device that went away mid-run (a USB adapter
      // pulled out) should say which one.
      runtime_.FatalError("Error re-opening port: " +
                          PortOpenMessage(PortLabel(port), lastOpenError_, OpenMessageUse::kFatal));
    }
    runtime_.clock.Sleep(kReopenPauseMs);
  }
}

void CommPort::ReportOpenError(const SerialOpenError& error) {
  runtime_.out.Print(
      Sink::kDebug, PortOpenMessage(PortLabel(settings_.portNumber), error, OpenMessageUse::kTrace),
      "\r\n");
}

std::string CommPort::PortLabel(int port) {
  const std::string device = opener_.DeviceOf(port);
  return "COM" + std::to_string(port) + (device.empty() ? "" : " (" + device + ")");
}

// ---- Lock marker ---------------------------------------------------------

void CommPort::CreateLockFile() {
  const std::string dir = runtime_.env.Get(kLockDirVariable);
  if (dir.empty() || !settings_.lockFilePath.empty()) return;
  Output& out = runtime_.out;
  out.Print(Sink::kDetail, "OpenPort", " creating lock file: ", dir, "\r\n");
  std::string path = dir;
  const char last = dir.back();
  // The platform's own separator: a backslash on POSIX would become part of
  // the file name instead of naming the folder.
  if (last != '/' && last != ':' && last != '\\') path += PathSeparator();
  path += kLockFilePrefix + std::to_string(settings_.portNumber);
  // Created new and never through a link: a link planted at the name in a
  // shared lock folder must not lead the run to truncate what it names. A
  // leftover marker of this user's (a run that was killed) is replaced;
  // anything else stays, and the run goes on without a marker of its own.
  std::string why;
  if (!CreateFreshFile(path, std::string(), std::string(), why)) {
    out.Print(Sink::kDebug, "Cannot create lock file ", path, "\r\n", "Error: ", why, "\r\n");
    return;
  }
  // Only the marker this run made is ever deleted by it.
  settings_.lockFilePath = path;
  RemoveFileOnAbort(path);
}

void CommPort::DeleteLockFile(const char* who) {
  if (settings_.lockFilePath.empty()) return;
  Output& out = runtime_.out;
  const std::string path = settings_.lockFilePath;
  out.Print(Sink::kDetail, who, " deleting lock file: ", path, "\r\n");
  if (!DeleteFileAt(path)) {
    const std::string why = LastSystemErrorText();
    out.Print(Sink::kDebug, "Cannot delete lock file ", path, "\r\n", why, "\r\n");
  }
  settings_.lockFilePath.clear();
  RemoveFileOnAbort(std::string());
}

// ---- Error reports -------------------------------------------------------

void CommPort::ReportSystemError(const std::string& systemText) {
  runtime_.out.ErrorHook("Error: " + systemText);
}

void CommPort::ReportLineErrors() {
  if (!device_) return;
  LineErrors errors;
  if (!device_->TakeLineErrors(errors)) {
    ReportSystemError(device_->LastFailure().systemText);
    return;
  }
  // Only the first error that applies is reported, in this order.
  const char* text = errors.framing     ? "Comm port framing error"
                     : errors.overrun   ? "Comm port overrun"
                     : errors.parity    ? "Comm port parity error"
                     : errors.breakSeen ? "Comm port break"
                     : errors.other     ? "Comm port error"
                                        : nullptr;
  if (text) runtime_.out.ErrorHook(text);
}

void CommPort::ReportTransfer(char open, const char* name, char close, const uint8_t* data,
                              size_t count) {
  // The error hook shows nothing outside the chip check: the record of
  // every transfer is not worth formatting then.
  if (runtime_.out.chipProbeCounter <= 0) return;
  std::string line;
  line += open;
  line += name;
  line += "(" + std::to_string(count) + ")";
  const size_t shown = count < kRecordBytes ? count : kRecordBytes;
  for (size_t i = 0; i < shown; ++i) line += " " + Hex(data[i], 2);
  if (count > kRecordBytes) line += "...";
  line += close;
  runtime_.out.ErrorHook(line);
}

void CommPort::PurgeAndReportErrors() {
  if (!device_) return;
  if (!device_->Purge()) {
    ReportSystemError(device_->LastFailure().systemText);
    return;
  }
  ReportLineErrors();
}

// ---- Transfers -----------------------------------------------------------

size_t CommPort::TransmitBlock(const uint8_t* data, size_t length) {
  const size_t space = kBufferSize - transmitCount_;
  if (length > space) {
    runtime_.out.Print(Sink::kDebug, "<TRANSMIT BUFFER OVERFLOW>\r\n");
    length = space;
  }
  if (length > 0) std::memcpy(transmit_.data() + transmitCount_, data, length);
  transmitCount_ += length;
  return length;
}

int CommPort::WriteCommPortOverlapped(const uint8_t* data, size_t length) {
  if (!device_) {
    ReportSystemError(kNotOpenText);
    return -1;
  }
  Clock& clock = runtime_.clock;
  const uint32_t start = clock.Ticks();
  size_t queued = 0;
  while (queued < length) {
    if (operationTimeoutMs_ != 0 && clock.Ticks() - start > operationTimeoutMs_) break;
    const int n = device_->Write(data + queued, length - queued);
    if (n < 0 && device_->LastFailure().timedOut) {
      runtime_.out.ErrorHook("Write error: TIMEOUT");
      return -1;
    }
    if (n < 0) {
      ReportSystemError(device_->LastFailure().systemText);
      ReportLineErrors();
      return -1;
    }
    if (n == 0) {
      // The device's queue is full: wait for the line to take it.
      const uint32_t wait = operationTimeoutMs_ != 0 ? operationTimeoutMs_ : kWriteWaitMs;
      if (!device_->Drain(wait)) {
        runtime_.out.ErrorHook("Write error: TIMEOUT");
        return -1;
      }
      continue;
    }
    queued += static_cast<size_t>(n);
  }
  ReportTransfer('<', "WriteCommPortOverlapped", '>', data, queued);
  return static_cast<int>(queued);
}

int CommPort::ReadCommPortOverlapped(uint8_t* data, size_t max) {
  if (!device_) {
    ReportSystemError(kNotOpenText);
    return -1;
  }
  const int n = device_->Read(data, max);
  if (n < 0) {
    ReportSystemError(device_->LastFailure().systemText);
    ReportLineErrors();
    return -1;
  }
  if (n > 0) ReportTransfer('[', "ReadCommPortOverlapped", ']', data, static_cast<size_t>(n));
  return n;
}

uint32_t CommPort::PollInterval(uint32_t elapsed, bool first) const {
  // A wait ends as soon as a byte reaches the port, so one wait may span
  // all the time left: it stops just past the deadline. The first wait is
  // at least kPollMs, so even a zero timeout gives bytes on their way one
  // chance.
  const uint64_t toDeadline = uint64_t{settings_.receiveTimeoutMs} + 1 - elapsed;
  if (first && toDeadline < kPollMs) return kPollMs;
  // Below what a wait takes for "forever" (INFINITE on Windows).
  return static_cast<uint32_t>(std::min<uint64_t>(toDeadline, INT32_MAX));
}

void CommPort::WaitForInput(uint32_t ms) {
  // The interval is an upper bound: the wait ends as soon as a byte reaches
  // the port, so a reply is seen at once.
  if (device_) {
    device_->WaitReadable(ms);
  } else {
    runtime_.clock.Sleep(ms);
  }
}

size_t CommPort::ReceiveBlock(uint8_t* data, size_t length) {
  if (length > kBufferSize) length = kBufferSize;
  Clock& clock = runtime_.clock;
  const uint32_t start = clock.Ticks();
  bool first = true;
  while (receiveCount_ < length) {
    const uint32_t elapsed = clock.Ticks() - start;
    if (elapsed > settings_.receiveTimeoutMs) {
      length = receiveCount_;
      break;
    }
    WaitForInput(PollInterval(elapsed, first));
    first = false;
    const int n =
        ReadCommPortOverlapped(receive_.data() + receiveCount_, kBufferSize - receiveCount_);
    if (n < 0) {
      runtime_.out.Print(Sink::kDebug, "[RECEIVE FAIL]\r\n");
      continue;
    }
    receiveCount_ += static_cast<size_t>(n);
    totalReceived += static_cast<uint64_t>(n);
  }
  if (length > 0) std::memcpy(data, receive_.data(), length);
  // Surplus bytes (the start of a later reply) stay for the next call.
  receiveCount_ -= length;
  if (receiveCount_ > 0) std::memmove(receive_.data(), receive_.data() + length, receiveCount_);
  return length;
}

int CommPort::ReadCommPortExact(uint8_t* data, size_t length) {
  Clock& clock = runtime_.clock;
  const uint32_t start = clock.Ticks();
  size_t count = 0;
  bool first = true;
  while (count < length) {
    const uint32_t elapsed = clock.Ticks() - start;
    if (elapsed > settings_.receiveTimeoutMs) break;
    WaitForInput(PollInterval(elapsed, first));
    first = false;
    const int n = ReadCommPortOverlapped(data + count, length - count);
    if (n < 0) return -1;
    count += static_cast<size_t>(n);
    totalReceived += static_cast<uint64_t>(n);
  }
  return static_cast<int>(count);
}

bool CommPort::FlushPendingWrites() {
  if (!device_) return true;
  if (!device_->Drain(kWriteWaitMs)) {
    runtime_.out.ErrorHook("Write error: TIMEOUT");
    return false;
  }
  return true;
}

bool CommPort::SetSpeedInPlace(int32_t baudRate) {
  if (!device_) return false;
  if (device_->SetSpeedInPlace(baudRate)) return true;
  ReportSystemError(device_->LastFailure().systemText);
  return false;
}

bool CommPort::Cts() { return device_ ? device_->Cts() : false; }

}  // namespace kel
