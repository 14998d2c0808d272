#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

/// Why a port could not be opened: a closed set of outcomes. The system's
/// own number and words for the failure travel with it, captured where it
/// happened, so no layer above ever turns a number back into a text.
enum class SerialOpenOutcome {
  kOpened,
  kNotPresent,        ///< no such port on this computer
  kInUse,             ///< another program (or run) holds the port
  kPermissionDenied,  ///< this user may not open the device
  kBadSetting,        ///< the device refused the speed or line format
  kOther,             ///< any other failure; see the system text
};

struct SerialOpenError {
  SerialOpenOutcome outcome = SerialOpenOutcome::kOpened;
  long systemCode = 0;      ///< the platform's own error number, for display only
  std::string systemText;   ///< the platform's text for the failure
  std::string device;       ///< the device the port number names (/dev/ttyUSB0, \\.\com3)
  /// The group that owns the device, when joining it gives access (POSIX).
  std::string deviceGroup;
  /// The user that owns the device, when no group of it gives access (POSIX).
  std::string deviceOwner;
};

/// The last failure of an open device: a write that did not complete in
/// time, or a system error with the system's own text.
struct SerialFailure {
  bool timedOut = false;
  std::string systemText;
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
  /// What the last failing call ran into.
  virtual const SerialFailure& LastFailure() = 0;
};

/// One serial port as the system lists it: what a port search tries and
/// --list-ports shows.
struct PortListing {
  int number = 0;           ///< the n of COM n
  std::string device;       ///< what it opens: /dev/ttyUSB0, \\.\COM3
  std::string description;  ///< a USB device's maker, product and serial, or the friendly name
  bool bluetooth = false;   ///< a Bluetooth serial port: searched only when named
};

/// Opens COM ports by number. The system side maps COM n onto the platform's
/// device; tests and the simulator supply their own.
class SerialPortOpener {
 public:
  virtual ~SerialPortOpener() = default;
  /// Opens and configures COM`portNumber`. On failure returns null and
  /// says why in `error`.
  virtual std::unique_ptr<SerialDevice> Open(int portNumber, const SerialConfig& config,
                                             SerialOpenError& error) = 0;
  /// The system's ports, in the order a search tries them. False when this
  /// opener keeps no list; a search then tries every number from 1 to 99.
  virtual bool ListPorts(std::vector<PortListing>& ports) {
    ports.clear();
    return false;
  }
  /// The COM number that opens the serial device at `path`: the number of
  /// the listed port it is (a link such as /dev/serial/by-id/... counts as
  /// the device it names), else a number of its own that no listed port
  /// has. 0 when this opener cannot open ports by their devices.
  virtual int NumberForDevice(const std::string& path) {
    (void)path;
    return 0;
  }
  /// The device COM`portNumber` stands for, to be shown beside its name;
  /// empty when the COM name says all (a Windows port, a port the user
  /// linked as comN).
  virtual std::string DeviceOf(int portNumber) {
    (void)portNumber;
    return {};
  }
  /// The latency timer of the USB adapter behind COM`portNumber` (how long
  /// it holds received bytes before passing them on), read from the
  /// driver's settings, and the setting that changes it. False where the
  /// driver keeps none, or the program sets the latency itself (Linux).
  virtual bool AdapterLatency(int portNumber, uint32_t& ms, std::string& setting) {
    (void)portNumber;
    (void)ms;
    (void)setting;
    return false;
  }
};

SerialPortOpener& SystemSerialPorts();

}  // namespace kel
