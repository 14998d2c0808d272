#include "link/adapter_latency.h"

namespace kel {

std::string AdapterLatencyNote(int port, uint32_t ms, const std::string& setting) {
  if (ms <= kAcceptableAdapterLatencyMs) return {};
  return "-- COM" + std::to_string(port) + ": the USB adapter holds received bytes for " +
         std::to_string(ms) +
         " ms (its latency timer), so transfers will be slower.\r\n"
         "   Set it to 1 ms in the port's Advanced settings (Device Manager) or at " +
         setting;
}

}  // namespace kel
