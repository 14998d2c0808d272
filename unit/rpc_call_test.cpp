#include "unit/rpc_call.h"

#include <gtest/gtest.h>

#include "tests/unit_fixture.h"
#include "unit/rpc_identification.h"
#include "unit/rpc_reset.h"

namespace kel {
namespace {

struct RpcCallTest : ::testing::Test, UnitFixture {
  UnitInfo unit = RunningUnit(0xF0);
};

TEST_F(RpcCallTest, WrongCommandEchoIsRetriedFourTimesThenFails) {
  peer.answer = [](const std::vector<uint8_t>& request) {
    return wire::Reply(request[0], 0x101C, {0x11});  // echoes another command
  };
  EXPECT_FALSE(GetModbusAddress(link, unit));
  EXPECT_EQ(peer.frames.size(), 4u);
  EXPECT_EQ(unit.modbusAddress, 0);
  EXPECT_NE(Console().find("RPC: GetModbusAddress\r\nFAILED"), std::string::npos) << Console();
}

TEST_F(RpcCallTest, RequestLayoutAndResultLine) {
  peer.answer = [](const std::vector<uint8_t>& request) {
    return wire::Reply(request[0], wire::Command(request), {0x2A});
  };
  EXPECT_TRUE(GetModbusAddress(link, unit));
  ASSERT_EQ(peer.frames.size(), 1u);
  EXPECT_EQ(peer.Requests()[0], (std::vector<uint8_t>{0xF0, 0x45, 0x10, 0x1B}));
  EXPECT_EQ(unit.modbusAddress, 42);
  EXPECT_NE(Console().find("COMPLETE: ModbusAddress=42 (2A)"), std::string::npos) << Console();
}

TEST_F(RpcCallTest, ReplyFromAnotherAddressOrServiceIsNotAccepted) {
  int calls = 0;
  peer.answer = [&calls](const std::vector<uint8_t>& request) {
    std::vector<uint8_t> reply = wire::Reply(request[0], wire::Command(request), {7});
    ++calls;
    if (calls == 1) reply[0] = 0x05;  // another unit
    if (calls == 2) reply[1] = 0x47;  // another service
    return reply;
  };
  EXPECT_TRUE(GetModbusAddress(link, unit));
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(unit.modbusAddress, 7);
}

TEST_F(RpcCallTest, SilentUnitCostsOneTimeoutPerAttemptWithoutPauses) {
  port.settings().receiveTimeoutMs = 100;
  const uint32_t start = clock.Ticks();
  EXPECT_FALSE(GetModbusAddress(link, unit));
  EXPECT_EQ(peer.frames.size(), 4u);
  // Four receive timeouts and the slack of the 10 ms polls, nothing more.
  EXPECT_LT(clock.Ticks() - start, 4u * 100u + 4u * 20u);
}

TEST_F(RpcCallTest, PingIsAnsweredWithB) {
  peer.answer = [](const std::vector<uint8_t>& request) -> std::optional<std::vector<uint8_t>> {
    if (request.size() == 2 && request[1] == 0x41) return std::vector<uint8_t>{request[0], 0x42};
    return std::nullopt;
  };
  EXPECT_TRUE(Ping(link, 0xF0));
  EXPECT_EQ(peer.frames[0], (std::vector<uint8_t>{0xF0, 0x41, wire::Framed({0xF0, 0x41})[2],
                                                  wire::Framed({0xF0, 0x41})[3]}));
  peer.answer = [](const std::vector<uint8_t>& request) {
    return std::vector<uint8_t>{request[0], 0x41};
  };
  EXPECT_FALSE(Ping(link, 0xF0));
}

TEST_F(RpcCallTest, ResetAnnouncesEveryAttemptAndForgetsTheConnectedUnitsMode) {
  options.unitId = 0xF0;
  EXPECT_FALSE(Reset(link, unit));
  EXPECT_EQ(peer.frames.size(), 8u);
  size_t announced = 0;
  for (size_t at = Console().find("RPC: Reset"); at != std::string::npos;
       at = Console().find("RPC: Reset", at + 1)) {
    ++announced;
  }
  EXPECT_EQ(announced, 8u);
  EXPECT_EQ(unit.connectionMode, modeUnknown);
}

TEST_F(RpcCallTest, ResetOfBootLoaderGoesToTheBootLoaderAddress) {
  unit.connectionMode = modePonderixBootLoader;
  EXPECT_FALSE(Reset(link, unit));
  ASSERT_EQ(peer.frames.size(), 4u);
  EXPECT_EQ(peer.Requests()[0], (std::vector<uint8_t>{0x01, 0x45, 0x10, 0x32}));
  EXPECT_EQ(unit.connectionMode, modePonderixBootLoader);  // kept after a failure

  peer.answer = [](const std::vector<uint8_t>& request) {
    return wire::Reply(request[0], wire::Command(request));
  };
  EXPECT_TRUE(Reset(link, unit));
  EXPECT_EQ(unit.connectionMode, modeUnknown);
}

TEST_F(RpcCallTest, ResetInUnknownModeSendsNothing) {
  unit.connectionMode = modeUnknown;
  EXPECT_FALSE(Reset(link, unit));
  EXPECT_TRUE(peer.frames.empty());
  EXPECT_NE(Console().find("Unknown unit mode"), std::string::npos);
}

TEST_F(RpcCallTest, ResetSystemOutsideApplicationEndsTheRun) {
  unit.connectionMode = modePonderixBootLoader;
  EXPECT_EQ(ExitCodeOf([&] { ResetSystem(link, unit); }), 1);
  EXPECT_NE(Console().find("Unable to restart system"), std::string::npos);
  EXPECT_TRUE(peer.frames.empty());
}

TEST_F(RpcCallTest, WaitForUnitPollsUntilReady) {
  int polls = 0;
  peer.answer = [&polls](const std::vector<uint8_t>& request) {
    return wire::Reply(request[0], wire::Command(request), {static_cast<uint8_t>(++polls >= 3)});
  };
  EXPECT_TRUE(WaitForUnit(link, unit));
  EXPECT_EQ(polls, 3);
  EXPECT_NE(Console().find("Waiting for unit...\r\n.."), std::string::npos) << Console();

  peer.answer = nullptr;
  const uint32_t start = clock.Ticks();
  EXPECT_FALSE(WaitForUnit(link, unit));
  EXPECT_GE(clock.Ticks() - start, 10000u);
  EXPECT_LT(clock.Ticks() - start, 10500u);
}

}  // namespace
}  // namespace kel
