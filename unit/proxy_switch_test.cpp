#include "unit/proxy_switch.h"

#include <gtest/gtest.h>

#include "tests/unit_fixture.h"

namespace kel {
namespace {

struct ProxySwitchTest : ::testing::Test, UnitFixture {};

TEST_F(ProxySwitchTest, OnAndOffRestoreTheDirectLink) {
  options.evenParity = true;
  options.unitId = 0x10;
  TurnProxyOn(link, 0x10, 2, 38400, 0x31);
  EXPECT_TRUE(proxy.on);
  EXPECT_EQ(proxy.unitId, 0x10);
  EXPECT_EQ(proxy.portNumber, 2);
  EXPECT_EQ(options.unitId, 0x31);
  EXPECT_EQ(port.settings().baudRate, 38400);
  EXPECT_FALSE(port.settings().evenParity);
  EXPECT_EQ(state.fastTimeoutMs, 100u);
  EXPECT_EQ(state.savedBaudRate, 38400);
  EXPECT_EQ(line.config.baudRate, 19200);  // the port itself is not touched

  TurnProxyOn(link, 0x10, 3, 57600, 0x32);  // a second switch keeps the direct link
  TurnProxyOff(link);
  EXPECT_FALSE(proxy.on);
  EXPECT_EQ(options.unitId, 0x10);
  EXPECT_EQ(port.settings().baudRate, 19200);
  EXPECT_TRUE(port.settings().evenParity);
  EXPECT_EQ(state.fastTimeoutMs, 50u);
  EXPECT_TRUE(peer.frames.empty());
}

TEST_F(ProxySwitchTest, OffWithoutOnChangesNothing) {
  options.unitId = 0x10;
  TurnProxyOff(link);
  EXPECT_EQ(port.settings().baudRate, 19200);
  EXPECT_EQ(options.unitId, 0x10);
}

}  // namespace
}  // namespace kel
