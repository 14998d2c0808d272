// COM ports through the Win32 serial API: overlapped reads and writes, a
// write queue that never waits for the line, and waits that end as soon as
// a character arrives.
#include "platform/win32/serial_win32.h"

#include <windows.h>

#include <cstdio>
#include <deque>
#include <memory>
#include <vector>

#include "platform/serial_device.h"
#include "platform/signals.h"
#include "platform/system_error.h"
#include "platform/win32/port_devices_win32.h"

namespace kel {

int FinishPendingRead(HANDLE h, OVERLAPPED& ov, DWORD boundMs, DWORD& error) {
  // The bytes are there, so this ends at once; the bound only keeps a
  // misbehaving driver from holding the program for good. CancelIo would
  // cancel every request of the handle: the queued writes (frames cut
  // short, unreported) and the wait for line events with it.
  if (WaitForSingleObject(ov.hEvent, boundMs) != WAIT_OBJECT_0) CancelIoEx(h, &ov);
  DWORD got = 0;
  if (GetOverlappedResult(h, &ov, &got, TRUE)) return static_cast<int>(got);
  error = GetLastError();
  return error == ERROR_HANDLE_EOF || error == ERROR_OPERATION_ABORTED ? 0 : -1;
}

namespace {

constexpr size_t kMaxOutstandingWrites = 255;
constexpr size_t kRingBytes = 65535;        // bytes in flight at most
constexpr DWORD kDriverQueueBytes = 20000;  // each direction
constexpr DWORD kWriteConstantMs = 1000;
constexpr DWORD kReadCompletionMs = 1000;  // a read of queued bytes ends well before
// How long the way out (and a purge) gives the requests still pending on
// the port, all together, before it cancels them; a request that does not
// end even when cancelled is given up, not waited for.
constexpr DWORD kSettleMs = 2000;
constexpr DWORD kCancelledMs = 100;

// The line settings every configuration shares: 8 data bits in binary mode,
// DTR and RTS held on, no DSR or software flow control, and errors never
// abort pending reads and writes.
void SetFixedLineFlags(DCB& dcb) {
  dcb.ByteSize = 8;
  dcb.fBinary = TRUE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;
}

struct WriteRecord {
  OVERLAPPED ov{};
  std::vector<uint8_t> data;
};

// The pending wait for line events; the system writes its mask on completion.
struct EventWait {
  OVERLAPPED ov{};
  DWORD mask = 0;
};

// Waits up to `ms` for `ov`; one still pending then is cancelled and gets a
// moment more. False when it has not ended even so: its memory must then
// stay, as the system may still write to it.
bool EndsOrIsCancelled(HANDLE h, OVERLAPPED& ov, DWORD ms) {
  if (WaitForSingleObject(ov.hEvent, ms) == WAIT_OBJECT_0) return true;
  CancelIoEx(h, &ov);
  return WaitForSingleObject(ov.hEvent, kCancelledMs) == WAIT_OBJECT_0;
}

// The line settings and timeouts a port had before the program set its own,
// put back when the program lets the port go.
struct PortState {
  DCB dcb{};
  COMMTIMEOUTS timeouts{};
  bool saved = false;
};

PortState SavePortState(HANDLE h) {
  PortState state;
  state.dcb.DCBlength = sizeof state.dcb;
  state.saved = GetCommState(h, &state.dcb) && GetCommTimeouts(h, &state.timeouts);
  return state;
}

void RestorePortState(HANDLE h, const PortState& state) {
  if (!state.saved) return;
  DCB dcb = state.dcb;
  COMMTIMEOUTS timeouts = state.timeouts;
  SetCommState(h, &dcb);
  SetCommTimeouts(h, &timeouts);
}

class Win32SerialDevice : public SerialDevice {
 public:
  Win32SerialDevice(HANDLE handle, const PortState& original)
      : h_(handle), original_(original), wait_(std::make_unique<EventWait>()) {
    wait_->ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    canWaitEvents_ = wait_->ov.hEvent != nullptr && SetCommMask(h_, EV_RXCHAR);
  }

  ~Win32SerialDevice() override {
    if (waitPending_) {
      SetCommMask(h_, 0);  // completes the pending WaitCommEvent
      if (!EndsOrIsCancelled(h_, wait_->ov, kSettleMs)) {
        static_cast<void>(wait_.release());  // given up: the system may still write to it
      }
    }
    PurgeComm(h_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    SettleWrites();
    if (wait_ && wait_->ov.hEvent) CloseHandle(wait_->ov.hEvent);
    RestorePortState(h_, original_);
    CloseHandle(h_);
  }

  int Read(uint8_t* data, size_t max) override {
    if (!ReapCompleted()) return -1;
    if (max == 0) return 0;
    // Ask only for what the driver already holds. A read for more may stay
    // pending until bytes come on some drivers (wine's serial ports on a
    // pseudo-terminal among them) despite the return-at-once timeouts.
    DWORD queued = 0;
    if (!QueuedInput(queued)) return Fail();
    if (queued == 0) return 0;
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!ov.hEvent) return Fail();
    DWORD got = 0;
    DWORD ask = max > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(max);
    if (ask > queued) ask = queued;
    int result = 0;
    if (ReadFile(h_, data, ask, &got, &ov)) {
      result = static_cast<int>(got);
    } else {
      DWORD err = GetLastError();
      if (err == ERROR_IO_PENDING) {
        result = FinishPendingRead(h_, ov, kReadCompletionMs, err);
      } else {
        result = err == ERROR_HANDLE_EOF ? 0 : -1;
      }
      if (result < 0) Record(err);
    }
    CloseHandle(ov.hEvent);
    return result;
  }

  bool WaitReadable(uint32_t timeoutMs) override {
    const DWORD start = GetTickCount();
    HANDLE stop = static_cast<HANDLE>(StopSignalEvent());
    for (;;) {
      if (InputWaiting()) return true;
      const DWORD spent = GetTickCount() - start;
      if (spent >= timeoutMs) return false;
      const DWORD left = timeoutMs - spent;
      if (canWaitEvents_ && !waitPending_) {
        ResetEvent(wait_->ov.hEvent);
        wait_->mask = 0;
        if (WaitCommEvent(h_, &wait_->mask, &wait_->ov)) {
          if (wait_->mask == 0) canWaitEvents_ = false;  // event-less, as explained below
          continue;
        }
        if (GetLastError() == ERROR_IO_PENDING) {
          waitPending_ = true;
        } else {
          canWaitEvents_ = false;  // fall back to short sleeps
        }
      }
      if (!waitPending_) {
        // Short sleeps, which a stop still ends at once.
        if (stop != nullptr && WaitForSingleObject(stop, 1) == WAIT_OBJECT_0) {
          ExitIfStopRequested();
          Sleep(1);  // a stop held back for now: no busy loop meanwhile
        } else if (stop == nullptr) {
          Sleep(1);
        }
        continue;
      }
      HANDLE handles[2] = {wait_->ov.hEvent, stop};
      const DWORD r = WaitForMultipleObjects(stop ? 2 : 1, handles, FALSE, left);
      if (r == WAIT_OBJECT_0 + 1) ExitIfStopRequested();
      if (r == WAIT_OBJECT_0) {
        DWORD ignored = 0;
        const BOOL ok = GetOverlappedResult(h_, &wait_->ov, &ignored, FALSE);
        waitPending_ = false;
        // A wait that ends without an event (or fails) would end the same
        // way at once each time: some drivers cannot wait on a line without
        // modem signals, such as wine's on a pseudo-terminal. Short sleeps
        // do instead, rather than a busy loop.
        if (!ok || wait_->mask == 0) canWaitEvents_ = false;
      }
    }
  }

  int Write(const uint8_t* data, size_t length) override {
    if (!ReapCompleted()) return -1;
    if (writes_.size() >= kMaxOutstandingWrites || inFlight_ >= kRingBytes) return 0;
    size_t chunk = kRingBytes - inFlight_;
    if (chunk > length) chunk = length;
    if (chunk == 0) return 0;
    auto record = std::make_unique<WriteRecord>();
    record->data.assign(data, data + chunk);
    record->ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!record->ov.hEvent) return Fail();
    DWORD written = 0;
    if (WriteFile(h_, record->data.data(), static_cast<DWORD>(chunk), &written, &record->ov)) {
      CloseHandle(record->ov.hEvent);
      if (written != chunk) {
        RecordTimeout();
        return -1;
      }
      return static_cast<int>(chunk);
    }
    const DWORD err = GetLastError();
    if (err != ERROR_IO_PENDING) {
      CloseHandle(record->ov.hEvent);
      Record(err);
      return -1;
    }
    inFlight_ += chunk;
    writes_.push_back(std::move(record));
    return static_cast<int>(chunk);
  }

  bool Drain(uint32_t timeoutMs) override {
    const DWORD start = GetTickCount();
    bool ok = true;
    while (!writes_.empty()) {
      const DWORD spent = GetTickCount() - start;
      const DWORD left = spent >= timeoutMs ? 0 : timeoutMs - spent;
      const int r = FinishOldest(left);
      if (r == 0) {
        RecordTimeout();
        return false;
      }
      if (r < 0) ok = false;
    }
    return ok;
  }

  bool Purge() override {
    if (!PurgeComm(h_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
      return Fail() == 0;
    }
    // Aborted writes complete at once; their records are simply dropped.
    SettleWrites();
    return true;
  }

  bool TakeLineErrors(LineErrors& errors) override {
    DWORD bits = 0;
    COMSTAT stat{};
    if (!ClearCommError(h_, &bits, &stat)) return Fail() == 0;
    bits |= heldErrorBits_;
    heldErrorBits_ = 0;
    errors.framing = (bits & CE_FRAME) != 0;
    errors.overrun = (bits & CE_OVERRUN) != 0;
    errors.parity = (bits & CE_RXPARITY) != 0;
    errors.breakSeen = (bits & CE_BREAK) != 0;
    errors.other =
        (bits & ~static_cast<DWORD>(CE_FRAME | CE_OVERRUN | CE_RXPARITY | CE_BREAK)) != 0;
    return true;
  }

  bool Cts() override {
    DWORD status = 0;
    if (!GetModemStatus(status)) return false;
    return (status & MS_CTS_ON) != 0;
  }

  bool SetSpeedInPlace(int32_t baudRate) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h_, &dcb)) return Fail() == 0;
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.StopBits = TWOSTOPBITS;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    SetFixedLineFlags(dcb);
    if (!SetCommState(h_, &dcb)) return Fail() == 0;
    return true;
  }

  const SerialFailure& LastFailure() override { return failure_; }

 private:
  int Fail() {
    Record(GetLastError());
    return -1;
  }

  void Record(DWORD code) {
    failure_.timedOut = false;
    failure_.systemText = SystemErrorText(code);
  }

  void RecordTimeout() {
    failure_.timedOut = true;
    failure_.systemText = SystemErrorText(ERROR_COUNTER_TIMEOUT);
  }

  bool GetModemStatus(DWORD& status) {
    if (GetCommModemStatus(h_, &status)) return true;
    Record(GetLastError());
    return false;
  }

  // ClearCommError also clears the error bits; they are kept for the next
  // TakeLineErrors so that a wait never hides a line error.
  bool InputWaiting() {
    DWORD queued = 0;
    return QueuedInput(queued) && queued > 0;
  }

  bool QueuedInput(DWORD& queued) {
    DWORD bits = 0;
    COMSTAT stat{};
    if (!ClearCommError(h_, &bits, &stat)) return false;
    heldErrorBits_ |= bits;
    queued = stat.cbInQue;
    return true;
  }

  // Retires the writes that have ended; false when one of them failed (cut
  // short or refused), whose failure is recorded for the caller to report.
  bool ReapCompleted() {
    bool ok = true;
    while (!writes_.empty()) {
      const int r = FinishOldest(0);
      if (r == 0) break;
      if (r < 0) ok = false;
    }
    return ok;
  }

  // Lets every outstanding write end, within kSettleMs for all of them; one
  // still pending then is cancelled, and one that does not end even so is
  // given up with its record, which the system may still read.
  void SettleWrites() {
    const DWORD start = GetTickCount();
    while (!writes_.empty()) {
      const DWORD spent = GetTickCount() - start;
      WriteRecord& record = *writes_.front();
      if (EndsOrIsCancelled(h_, record.ov, spent >= kSettleMs ? 0 : kSettleMs - spent)) {
        FinishOldest(0);
        continue;
      }
      inFlight_ -= record.data.size();
      static_cast<void>(writes_.front().release());
      writes_.pop_front();
    }
  }

  // Waits up to `ms` for the oldest write: 0 still pending, 1 done, -1 failed.
  int FinishOldest(DWORD ms) {
    WriteRecord& record = *writes_.front();
    const DWORD r = WaitForSingleObject(record.ov.hEvent, ms);
    if (r == WAIT_TIMEOUT) return 0;
    int result = 1;
    DWORD written = 0;
    if (r != WAIT_OBJECT_0) {
      Record(GetLastError());
      result = -1;
    } else if (!GetOverlappedResult(h_, &record.ov, &written, FALSE)) {
      Record(GetLastError());
      result = -1;
    } else if (written != record.data.size()) {
      RecordTimeout();
      result = -1;
    }
    CloseHandle(record.ov.hEvent);
    inFlight_ -= record.data.size();
    writes_.pop_front();
    return result;
  }

  HANDLE h_;
  PortState original_;
  SerialFailure failure_;
  std::deque<std::unique_ptr<WriteRecord>> writes_;
  size_t inFlight_ = 0;
  std::unique_ptr<EventWait> wait_;
  bool waitPending_ = false;
  bool canWaitEvents_ = false;
  DWORD heldErrorBits_ = 0;
};

// The system's codes for a port that cannot be opened, sorted into the
// program's outcomes: a port held by another program gives access denied
// or a sharing violation; Windows has no per-user device permissions.
SerialOpenOutcome OutcomeOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return SerialOpenOutcome::kNotPresent;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return SerialOpenOutcome::kInUse;
    case ERROR_INVALID_PARAMETER:
      return SerialOpenOutcome::kBadSetting;
    default:
      return SerialOpenOutcome::kOther;
  }
}

void RecordOpenError(SerialOpenError& error, DWORD code) {
  error.outcome = OutcomeOf(code);
  error.systemCode = static_cast<long>(code);
  error.systemText = SystemErrorText(code);
}

class Win32SerialPorts : public SerialPortOpener {
 public:
  std::unique_ptr<SerialDevice> Open(int portNumber, const SerialConfig& config,
                                     SerialOpenError& error) override {
    error = SerialOpenError{};
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\com%d", portNumber);
    error.device = name;
    DWORD openError = 0;
    HANDLE h = OpenPortHandle(name, openError);
    if (h == INVALID_HANDLE_VALUE) {
      RecordOpenError(error, openError);
      return nullptr;
    }
    const PortState original = SavePortState(h);
    if (!Configure(h, config)) {
      RecordOpenError(error, GetLastError());
      RestorePortState(h, original);
      CloseHandle(h);
      return nullptr;
    }
    return std::make_unique<Win32SerialDevice>(h, original);
  }

  // The ports are those of the system's device map, read afresh for each
  // list; without a readable map every number is tried.
  bool ListPorts(std::vector<PortListing>& ports) override {
    std::vector<DeviceMapEntry> map;
    if (!ReadSerialDeviceMap(map)) {
      ports.clear();
      return false;
    }
    ports = PortsFromDeviceMap(map, ReadPortDevices());
    return true;
  }

  bool AdapterLatency(int portNumber, uint32_t& ms, std::string& setting) override {
    return AdapterLatencyOf(portNumber, ReadPortDevices(), ms, setting);
  }

 private:
  static bool Configure(HANDLE h, const SerialConfig& config) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) return false;
    dcb.BaudRate = static_cast<DWORD>(config.baudRate);
    dcb.Parity = config.parityOn ? (config.evenParity ? EVENPARITY : ODDPARITY) : NOPARITY;
    dcb.StopBits = config.stopBits == 1 ? ONESTOPBIT : TWOSTOPBITS;
    dcb.fParity = config.parityOn ? TRUE : FALSE;
    dcb.fOutxCtsFlow = config.ctsFlow ? TRUE : FALSE;
    SetFixedLineFlags(dcb);
    if (!SetCommState(h, &dcb)) return false;

    // Reads return at once with what is buffered; a write may take 1 ms a
    // byte plus a second before it counts as timed out.
    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(h, &timeouts)) return false;
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = kWriteConstantMs;
    if (!SetCommTimeouts(h, &timeouts)) return false;

    if (!SetupComm(h, kDriverQueueBytes, kDriverQueueBytes)) return false;
    if (!PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
      return false;
    }
    DWORD bits = 0;
    COMSTAT stat{};
    ClearCommError(h, &bits, &stat);
    return true;
  }
};

}  // namespace

std::unique_ptr<SerialDevice> OverlappedHandleDevice(HANDLE handle) {
  return std::make_unique<Win32SerialDevice>(handle, SavePortState(handle));
}

SerialPortOpener& SystemSerialPorts() {
  static Win32SerialPorts ports;
  return ports;
}

}  // namespace kel
