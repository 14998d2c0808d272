#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/link_settings.h"
#include "platform/serial_device.h"

namespace kel {

struct Runtime;

/// The one serial port of the program: opening it with the link settings
/// (announced by a lock marker file), queued writes that never wait for the
/// line, a receive buffer with timed reads, line-error reports and speed
/// changes by reopening. Every low-level error text and a record of every
/// transfer go to the output's error hook.
///
/// One instance per run, made by main (a test makes a fresh one). Its owner
/// hands it to Runtime::closePort (RegisterClosePort) so that a fatal error
/// or the stop handler can release the port and its lock marker.
class CommPort {
 public:
  static constexpr size_t kBufferSize = 65536;  ///< receive and transmit buffers
  static constexpr int kOpenAttempts = 100;     ///< attempts on a busy port
  static constexpr uint32_t kBusyRetryMs = 100; ///< pause between those attempts
  static constexpr int kReopenAttempts = 20;    ///< ChangeBaudRate attempts before it is fatal
  static constexpr uint32_t kReopenPauseMs = 25;
  static constexpr uint32_t kPollMs = 10;       ///< least first wait for input

  CommPort(Runtime& runtime, SerialPortOpener& opener);
  ~CommPort();
  CommPort(const CommPort&) = delete;
  CommPort& operator=(const CommPort&) = delete;

  /// Makes Runtime::closePort close this port until it is destroyed. The
  /// port's owner calls it once, right after making the port.
  void RegisterClosePort();

  LinkSettings& settings() { return settings_; }
  const LinkSettings& settings() const { return settings_; }
  bool isOpen() const { return device_ != nullptr; }

  /// Opens COM n from the settings. A busy port is retried 100 times, 100 ms
  /// apart, with a dot per attempt; any other failure (a port the user may
  /// not open among them) fails at once. A programmer speed above 115200 is
  /// proved first by opening at it. True when open at the current speed.
  /// Once the port is open, the lock marker is created in PONDERIXLOCKDIR
  /// (when set): new, never through a link, replacing only a leftover
  /// regular file of this user; a failed open never touches a marker.
  bool OpenPort();
  /// Waits for queued writes, purges, closes; then deletes the lock marker
  /// if this run created it.
  void ClosePort();
  /// Closes and reopens at the current speed and parity. False at once when
  /// the port refuses the speed; ends the run after 20 failed attempts
  /// (returns false instead while the link is put back on the way out).
  bool ChangeBaudRate();

  /// The low-level open and configuration. False on failure, with the
  /// reason in lastOpenError(); nothing is reported.
  bool OpenCommPort(int portNumber, int32_t speed, int stopBits, bool parityOn, bool evenParity,
                    bool ctsFlow, uint16_t operationTimeoutMs);
  /// Why the last open failed (not present, in use, permission denied, bad
  /// setting, other), with the system's own text.
  const SerialOpenError& lastOpenError() const { return lastOpenError_; }
  /// Closes the device without any wait, purge or trace (after a failed open).
  void CloseDevice();

  /// Appends to the transmit buffer; returns the count taken (what fits).
  size_t TransmitBlock(const uint8_t* data, size_t length);
  const uint8_t* transmitData() const { return transmit_.data(); }
  size_t transmitCount() const { return transmitCount_; }
  /// Empties the transmit buffer (after its contents were queued).
  void ClearTransmit() { transmitCount_ = 0; }

  /// Queues bytes for the line without waiting for them to leave; returns
  /// the count queued or -1 on a write failure.
  int WriteCommPortOverlapped(const uint8_t* data, size_t length);
  /// One read of whatever the driver holds: count, 0, or -1 on failure.
  int ReadCommPortOverlapped(uint8_t* data, size_t max);
  /// Delivers up to `length` bytes from the receive buffer, reading the port
  /// until they are there or the receive timeout (from the call's start) has
  /// passed. Surplus bytes stay buffered for the next call.
  size_t ReceiveBlock(uint8_t* data, size_t length);
  /// Reads straight from the port until `length` bytes arrived or the
  /// receive timeout passed; the count read, or -1 on a read failure.
  int ReadCommPortExact(uint8_t* data, size_t length);
  /// Waits for every queued write to leave; false when one failed.
  bool FlushPendingWrites();
  /// Discards both driver queues and reports any pending line error.
  void PurgeAndReportErrors();
  /// Changes the speed on the open port without reopening it (parity
  /// checking and CTS flow off, parity setting kept). A failure is reported
  /// through the error hook; false then.
  bool SetSpeedInPlace(int32_t baudRate);
  /// The CTS modem line; false when closed or the query fails (reported
  /// through the error hook).
  bool Cts();

  /// Bytes held in the receive buffer and not yet delivered.
  size_t receiveHeld() const { return receiveCount_; }
  /// Drops everything held in the receive buffer.
  void ClearReceiveBuffer() { receiveCount_ = 0; }

  uint64_t totalReceived = 0;  ///< statistics: every byte read from the port
  uint64_t totalSent = 0;      ///< statistics: every byte handed to the port

  /// The open device, or null. For the speed change in place and tests.
  SerialDevice* device() { return device_.get(); }
  /// What opens the ports: its list of the system's ports and the devices
  /// behind the COM numbers.
  SerialPortOpener& opener() { return opener_; }
  /// "COM" + the number, and the device it stands for in parentheses where
  /// the opener names one: "COM3 (/dev/ttyUSB0)".
  std::string PortLabel(int port);

 private:
  bool OpenAt(int32_t speed);
  void CreateLockFile();
  void DeleteLockFile(const char* who);
  void CloseForReopen(const char* who);
  void ReportOpenError(const SerialOpenError& error);
  void ReportSystemError(const std::string& systemText);
  void ReportLineErrors();
  uint32_t PollInterval(uint32_t elapsed, bool first) const;
  void WaitForInput(uint32_t ms);
  void ReportTransfer(char open, const char* name, char close, const uint8_t* data,
                      size_t count);

  Runtime& runtime_;
  SerialPortOpener& opener_;
  LinkSettings settings_;
  std::unique_ptr<SerialDevice> device_;
  bool closePortRegistered_ = false;
  SerialOpenError lastOpenError_;
  uint16_t operationTimeoutMs_ = 0;
  std::vector<uint8_t> receive_;  // kBufferSize bytes, allocated once
  size_t receiveCount_ = 0;
  std::vector<uint8_t> transmit_;  // kBufferSize bytes, allocated once
  size_t transmitCount_ = 0;
};

}  // namespace kel
