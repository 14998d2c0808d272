#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial_device.h"

namespace kel {

/// The master side of a pseudo-terminal, served by the unit simulator: a
/// program opens the slave as if it were a serial port, and the simulator
/// reads and writes the master. The slave starts in raw mode.
class PseudoTerminal {
 public:
  virtual ~PseudoTerminal() = default;
  /// The slave device path (e.g. /dev/pts/7).
  virtual const std::string& slavePath() const = 0;
  /// Reads what the program wrote; 0 when nothing is waiting, -1 on failure.
  virtual int Read(uint8_t* data, size_t max) = 0;
  /// Writes bytes towards the program; returns the count taken or -1.
  virtual int Write(const uint8_t* data, size_t length) = 0;
  /// The speed and parity the program has set on the slave. Master and
  /// slave share one set of terminal settings, so this is read fresh each
  /// time. False when the settings cannot be read.
  virtual bool LineSettings(SerialConfig& line) = 0;
  /// The descriptor to wait on (POSIX), -1 where there is none.
  virtual int WaitHandle() const = 0;
  /// False once every process that opened the slave has closed it (until
  /// one opens it again); true before anyone has opened it.
  virtual bool FarEndOpen() const = 0;
  /// After the last close of the slave: clears what a serial device does
  /// not keep past its last close (its exclusive mode).
  /// False when that cannot be done (an exclusive slave that an ordinary
  /// user may not open); the caller then replaces the terminal.
  virtual bool ResetAfterClose() = 0;
};

/// Creates a pseudo-terminal. Null on failure (then `error` says why), and
/// always on platforms without pseudo-terminals.
std::unique_ptr<PseudoTerminal> OpenPseudoTerminal(std::string& error);

/// Waits until one of `terminals` has bytes, a stop signal arrived or
/// `timeoutMs` passed. Returns the indices of the readable ones. A terminal
/// whose far end is closed cannot be waited on: while there is one, the wait
/// ends after at most 10 ms so that the caller looks again.
std::vector<size_t> WaitForTerminals(const std::vector<PseudoTerminal*>& terminals, uint32_t timeoutMs);

/// Makes `link` a symbolic link to `target`, replacing an existing link
/// (but never a regular file). False with the reason in `error`.
bool MakeDeviceLink(const std::string& target, const std::string& link, std::string& error);
/// Removes a symbolic link made by MakeDeviceLink; leaves anything else alone.
bool RemoveDeviceLink(const std::string& link);

/// A pseudo-terminal whose slave this same process opens as COM`number`
/// through SystemSerialPorts(): the slave is linked as comN in a new
/// temporary folder, and PONDERIXCOMDIR names that folder while the object
/// lives (the previous value comes back afterwards). For benchmarks and
/// tests that play the far end of a real serial device in-process.
class LocalComPort {
 public:
  /// Null on failure (then `error` says why), and always on platforms
  /// without pseudo-terminals.
  static std::unique_ptr<LocalComPort> Open(int number, std::string& error);
  ~LocalComPort();
  LocalComPort(const LocalComPort&) = delete;
  LocalComPort& operator=(const LocalComPort&) = delete;

  /// The far end: what the program writes to COM`number` is read here.
  PseudoTerminal& terminal() { return *terminal_; }
  /// The folder PONDERIXCOMDIR points at.
  const std::string& folder() const { return folder_; }

 private:
  LocalComPort() = default;

  std::unique_ptr<PseudoTerminal> terminal_;
  std::string folder_;
  std::string link_;
  std::string savedComDir_;
  bool hadComDir_ = false;
};

}  // namespace kel
