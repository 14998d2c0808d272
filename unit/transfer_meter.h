#pragma once

#include <cstdint>
#include <string_view>

namespace kel {

class CommPort;
class Output;

/// Measures one transfer on the serial port: the time and the bytes that
/// crossed the line between Start and the report.
class TransferMeter {
 public:
  /// Notes the tick count and the port's byte counters now.
  void Start(uint32_t ticks, const CommPort& port);

  /// The statistics line on the debug sink: `label` (as "Bytes sent") + " = "
  /// + bytes + " : Time = " + ms + " mS : Data rate = " + rate + " baud",
  /// the rate at 11 bits a byte on the wire. A transfer that took 0 ms
  /// shows 0 ms, its rate computed as for 1 ms.
  void ReportSent(Output& out, uint32_t ticks, const CommPort& port) const;
  void ReportReceived(Output& out, uint32_t ticks, const CommPort& port) const;

  /// The rate figure of the line: bytes / (ms / 1000) x 11, truncated.
  static uint64_t DataRate(uint64_t bytes, uint32_t ms);

 private:
  void Report(Output& out, std::string_view label, uint64_t bytes, uint32_t ms) const;

  uint32_t startTicks_ = 0;
  uint64_t startSent_ = 0;
  uint64_t startReceived_ = 0;
};

}  // namespace kel
