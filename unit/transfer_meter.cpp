#include "unit/transfer_meter.h"

#include "link/comm_port.h"
#include "runtime/output.h"

namespace kel {

namespace {

constexpr uint64_t kBitsPerByte = 11;  // start bit, 8 data bits, 2 stop bits

}  // namespace

void TransferMeter::Start(uint32_t ticks, const CommPort& port) {
  startTicks_ = ticks;
  startSent_ = port.totalSent;
  startReceived_ = port.totalReceived;
}

uint64_t TransferMeter::DataRate(uint64_t bytes, uint32_t ms) {
  if (ms == 0) ms = 1;
  return bytes * 1000 * kBitsPerByte / ms;
}

void TransferMeter::ReportSent(Output& out, uint32_t ticks, const CommPort& port) const {
  Report(out, "Bytes sent", port.totalSent - startSent_, ticks - startTicks_);
}

void TransferMeter::ReportReceived(Output& out, uint32_t ticks, const CommPort& port) const {
  Report(out, "Bytes received", port.totalReceived - startReceived_, ticks - startTicks_);
}

void TransferMeter::Report(Output& out, std::string_view label, uint64_t bytes, uint32_t ms) const {
  // The time shown is the one measured; only the rate counts 0 ms as 1.
  out.Print(Sink::kDebug, label, " = ", bytes, " : Time = ", ms, " mS",
            " : Data rate = ", DataRate(bytes, ms), " baud\r\n");
}

}  // namespace kel
