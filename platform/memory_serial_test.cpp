// The in-memory serial line keeps time in microseconds: a wait for input
// ends at the moment a byte arrives, a timeout at a whole tick.

#include "platform/memory_serial.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/virtual_clock.h"

namespace kel {
namespace {

class MemoryLineTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SerialOpenError error;
    device = ports.Open(1, SerialConfig{}, error);
    ASSERT_TRUE(device);
    clock.AdvanceMicros(400);  // inside a tick, where rounding would show
  }

  VirtualClock clock;
  MemorySerialPorts ports{clock};
  MemorySerialLine& line = ports.AddLine(1);
  std::unique_ptr<SerialDevice> device;
};

TEST_F(MemoryLineTimeTest, AWaitEndsAtTheMicrosecondTheByteArrives) {
  const uint8_t byte = 0x5A;
  const uint64_t due = clock.Micros() + 2345;
  line.SendToHostUs(&byte, 1, due);
  ASSERT_TRUE(device->WaitReadable(100));
  EXPECT_EQ(clock.Micros(), due);
  EXPECT_EQ(clock.Ticks(), due / 1000);
  uint8_t got = 0;
  EXPECT_EQ(device->Read(&got, 1), 1);
  EXPECT_EQ(got, byte);
}

TEST_F(MemoryLineTimeTest, ATimeoutStillEndsAtItsTick) {
  const uint32_t start = clock.Ticks();
  EXPECT_FALSE(device->WaitReadable(50));
  EXPECT_EQ(clock.Ticks(), start + 50);
  EXPECT_EQ(clock.Micros(), uint64_t{start + 50} * 1000);
}

}  // namespace
}  // namespace kel
