#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kel {

/// Line format and device behaviour asked of a COM port when it is opened.
struct SerialConfig {
  int32_t baudRate = 19200;
  bool parityOn = false;
  bool evenParity = false;  ///< with parityOn: even, else odd
  int stopBits = 2;         ///< 1 or 2
  bool ctsFlow = false;     ///< transmitter waits for CTS
};

/// Line-error bits, as ClearCommError reports them.
struct LineErrors {
  bool framing = false;
  bool overrun = false;
  bool parity = false;
  bool breakSeen = false;
  bool other = false;
  bool any() const { return framing || overrun || parity || breakSeen || other; }
};

/// Error codes of a failed open, in the Windows numbering the program's
/// messages are keyed on; other platforms map their errors onto these.
enum SerialOpenError : unsigned long {
  kSerialOk = 0,
  kSerialNotPresent = 2,       ///< no such port
  kSerialAccessDenied = 5,     ///< in use
  kSerialSharingViolation = 32,///< in use
  kSerialBadSetting = 87,      ///< speed or setting refused
  kSerialWriteTimeout = 1460,  ///< a write did not complete in full (LastError after Write/Drain)
};

/// One open serial port: a real port (termios, Win32) or an in-memory line.
/// Reads never block; writes are queued and complete later.
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;
  /// Reads whatever is available, up to `max` bytes; 0 when nothing, -1 on failure.
  virtual int Read(uint8_t* data, size_t max) = 0;
  /// Waits until input is available or `timeoutMs` has passed; true when
  /// bytes are waiting. Must wake within 1 ms of their arrival.
  virtual bool WaitReadable(uint32_t timeoutMs) = 0;
  /// Queues bytes for transmission without waiting for the line; returns
  /// the count taken, or -1 on failure.
  virtual int Write(const uint8_t* data, size_t length) = 0;
  /// Waits up to `timeoutMs` for every queued byte to leave; true when done.
  virtual bool Drain(uint32_t timeoutMs) = 0;
  /// Discards both queues.
  virtual bool Purge() = 0;
  /// Reads and clears the pending line-error bits.
  virtual bool TakeLineErrors(LineErrors& errors) = 0;
  /// The CTS modem line.
  virtual bool Cts() = 0;
  /// Changes speed on the open port, leaving it open (parity checking and
  /// CTS flow off). False when the device refuses.
  virtual bool SetSpeedInPlace(int32_t baudRate) = 0;
  /// The system error code of the last failure, and its text.
  virtual unsigned long LastError() = 0;
};

/// Opens COM ports by number. The system side maps COM n onto the platform's
/// device; tests and the simulator supply their own.
class SerialPortOpener {
 public:
  virtual ~SerialPortOpener() = default;
  /// Opens and configures COM`portNumber`. On failure returns null and sets
  /// `error` to one of SerialOpenError (or another system code).
  virtual std::unique_ptr<SerialDevice> Open(int portNumber, const SerialConfig& config,
                                             unsigned long& error) = 0;
};

SerialPortOpener& SystemSerialPorts();

}  // namespace kel
