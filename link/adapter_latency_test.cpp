#include "link/adapter_latency.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

TEST(AdapterLatency, ASlowTimerIsSaidWithItsSetting) {
  EXPECT_EQ(AdapterLatencyNote(3, 1, "HKLM\\X"), "");
  EXPECT_EQ(AdapterLatencyNote(3, 2, "HKLM\\X"), "");
  EXPECT_EQ(
      AdapterLatencyNote(3, 16, "HKLM\\X"),
      "-- COM3: the USB adapter holds received bytes for 16 ms (its latency timer), so "
      "transfers will be slower.\r\n   Set it to 1 ms in the port's Advanced settings (Device "
      "Manager) or at HKLM\\X");
}

}  // namespace
}  // namespace kel
