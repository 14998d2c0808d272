#pragma once

namespace kel {

/// A serial driver's flag word (struct serial_struct's flags through
/// TIOCGSERIAL and TIOCSSERIAL), behind an interface so that the request
/// for low latency and its restore can be tested without an adapter.
class SerialDriverFlags {
 public:
  virtual ~SerialDriverFlags() = default;
  /// False when the device has no such flags (a pseudo-terminal).
  virtual bool Get(int& flags) = 0;
  virtual bool Set(int flags) = 0;
};

/// The flags of the terminal `fd`.
class IoctlDriverFlags : public SerialDriverFlags {
 public:
  explicit IoctlDriverFlags(int fd) : fd_(fd) {}
  bool Get(int& flags) override;
  bool Set(int flags) override;

 private:
  int fd_;
};

/// What a port was like before the program asked it for low latency.
struct LatencyHold {
  bool changed = false;  ///< the flag was off and was turned on
};

/// Asks the driver to pass received bytes on at once. USB serial adapters
/// hold them for their latency timer (16 ms on the common ones), which a
/// request/reply protocol pays on every exchange; the common drivers set
/// the timer to 1 ms for this flag. A device that has no such flag, or
/// refuses it, is left as it is, silently.
LatencyHold RequestLowLatency(SerialDriverFlags& flags);

/// Turns the flag off again if RequestLowLatency turned it on.
void RestoreLatency(SerialDriverFlags& flags, const LatencyHold& hold);

}  // namespace kel
