#include "sim/application_role.h"

#include <gtest/gtest.h>

#include "sim/sim_network.h"
#include "sim/sim_test_support.h"

namespace kel::sim {
namespace {

using testing::Bench;
using testing::Line;
using testing::WithCrc;

// A KT5 transmitter with every identity field set to something distinct.
SimUnit Transmitter() {
  SimUnit u;
  u.name = "kt5";
  u.cardNumber = 659;
  u.circuitCode = 2;
  u.suffixLetter = 2;
  u.suffixNumber = 1;
  u.productWord = 0x0102;
  u.softwareVersion = 610;
  u.softwareRelease = 57;
  u.buildIncrement = 3;
  u.serialNumber = 100234;  // 0x0001878A
  u.modbusAddress = 5;
  u.unitAddress = 5;
  u.unitFlags = 0x01;
  u.buildTime = {26, 1, 15, 12, 30, 0};
  u.informationText = "Line 1";
  u.debugLogFiles = {0x0200, 0x0201};
  u.bootLoaderVersion = 4;
  u.bootLoaderRelease = 18;
  u.mcuType = 6;
  u.softwareChecksum = 0x12345678;
  u.softwareCrc = 0xABCD;
  u.applicationBaud = 19200;
  u.restartMs = 300;
  u.notReadyMs = 1000;
  return u;
}

class ApplicationTest : public ::testing::Test {
 protected:
  ApplicationTest() : network(RoleHandlers{}) {}
  void SetUp() override {
    network.AddUnit(Transmitter(), SimNetwork::Place::kConnected);
    bench = std::make_unique<Bench>(network);
  }
  std::vector<uint8_t> Call(std::vector<uint8_t> payload) { return bench->Call(std::move(payload), at19200); }

  SimNetwork network;
  std::unique_ptr<Bench> bench;
  SerialConfig at19200 = Line(19200);
};

TEST_F(ApplicationTest, AnswersPingAtItsAddressAndAtF0) {
  EXPECT_EQ(Call({0x05, 0x41}), WithCrc({0x05, 0x42}));
  EXPECT_EQ(Call({0xF0, 0x41}), WithCrc({0xF0, 0x42}));
  EXPECT_EQ(Call({0xF0, 0x45, 0x10, 0x1B}), WithCrc({0xF0, 0x45, 0x10, 0x1B, 0x05}));
  EXPECT_TRUE(Call({0x06, 0x41}).empty());
}

TEST_F(ApplicationTest, IdentificationRepliesFollowTheWireLayouts) {
  // ReadUnitInfo: card, circuit, version, build increment and release.
  EXPECT_EQ(Call({0x05, 0x45, 0x10, 0x10}),
            WithCrc({0x05, 0x45, 0x10, 0x10, 0x02, 0x93, 0x00, 0x02, 0x02, 0x62, 0x03, 0x39}));
  // ReadAdvancedInfo: length 35, then the 33-byte record, Modbus address and flags.
  EXPECT_EQ(Call({0x05, 0x45, 0x10, 0x14}),
            WithCrc({0x05, 0x45, 0x10, 0x14, 0x23, 0x00, 0x06, 0x04, 0x12, 0x02, 0x93, 0x00, 0x02,
                     0x02, 0x01, 0x02, 0x62, 0x39, 0x03, 0x1A, 0x01, 0x0F, 0x0C, 0x1E, 0x00,
                     0x12, 0x34, 0x56, 0x78, 0xAB, 0xCD, 0x00, 0x01, 0x87, 0x8A, 0x01, 0x02,
                     0x05, 0x01}));
  // ReadExtendedInfo: count 24, text flag, three words, serial, seven bytes, time, text length.
  EXPECT_EQ(Call({0x05, 0x45, 0x10, 0x15}),
            WithCrc({0x05, 0x45, 0x10, 0x15, 0x18, 0x01, 0, 0, 0, 0, 0, 0, 0x00, 0x01, 0x87, 0x8A,
                     0, 0, 0, 0, 0, 0, 0, 0x1A, 0x01, 0x0F, 0x0C, 0x1E, 0x00, 0x06}));
  EXPECT_EQ(Call({0x05, 0x45, 0x10, 0x16}),
            WithCrc({0x05, 0x45, 0x10, 0x16, 'L', 'i', 'n', 'e', ' ', '1'}));
  EXPECT_EQ(Call({0x05, 0x45, 0x10, 0x1C}), WithCrc({0x05, 0x45, 0x10, 0x1C, 0x00}));
  EXPECT_EQ(Call({0x05, 0x45, 0x10, 0x34}),
            WithCrc({0x05, 0x45, 0x10, 0x34, 0x02, 0x02, 0x00, 0x02, 0x01}));
  EXPECT_EQ(Call({0x05, 0x45, 0x10, 0x17}), WithCrc({0x05, 0x45, 0x10, 0x17, 0x00}));
}

TEST_F(ApplicationTest, OlderSoftwareKeepsToTheCallsOfItsGeneration) {
  SimUnit& u = *network.connected();
  u.softwareVersion = 590;
  u.productWord = 0x0BCD;
  // Below 6.00 the last word of the basic info is the product word.
  EXPECT_EQ(Call({0x05, 0x45, 0x10, 0x10}),
            WithCrc({0x05, 0x45, 0x10, 0x10, 0x02, 0x93, 0x00, 0x02, 0x02, 0x4E, 0x0B, 0xCD}));
  EXPECT_TRUE(Call({0x05, 0x45, 0x10, 0x14}).empty());
  EXPECT_TRUE(Call({0x05, 0x45, 0x10, 0x17}).empty());
  EXPECT_TRUE(Call({0x05, 0x45, 0x10, 0x18}).empty());
  u.softwareVersion = 605;
  EXPECT_TRUE(Call({0x05, 0x45, 0x10, 0x1C}).empty());
  // A request with extra bytes is not one the unit knows.
  EXPECT_TRUE(Call({0x05, 0x45, 0x10, 0x10, 0x00}).empty());
}

TEST_F(ApplicationTest, SpeedChangeAnswersAtTheOldSpeedThenMovesTheLine) {
  // 115200 = 00 01 C2 00.
  EXPECT_EQ(Call({0x05, 0x45, 0x10, 0x30, 0x00, 0x01, 0xC2, 0x00}),
            WithCrc({0x05, 0x45, 0x10, 0x30}));
  EXPECT_TRUE(Call({0x05, 0x41}).empty());
  EXPECT_EQ(bench->Call({0x05, 0x41}, Line(115200)), WithCrc({0x05, 0x42}));
  // Parity must match too.
  EXPECT_TRUE(bench->Call({0x05, 0x41}, Line(115200, true)).empty());
  // Rates outside the table, or beyond what 6.10r57 can run on the MCU, are refused.
  EXPECT_TRUE(bench->Call({0x05, 0x45, 0x10, 0x30, 0x00, 0x03, 0xD0, 0x90}, Line(115200)).empty());
  network.connected()->softwareVersion = 606;
  network.connected()->softwareRelease = 30;
  EXPECT_TRUE(bench->Call({0x05, 0x45, 0x10, 0x30, 0x00, 0x07, 0x08, 0x00}, Line(115200)).empty());
  EXPECT_FALSE(bench->Call({0x05, 0x45, 0x10, 0x30, 0x00, 0x03, 0x84, 0x00}, Line(115200)).empty());
}

TEST_F(ApplicationTest, ResetGoesSilentThenComesUpNotReadyThenReady) {
  EXPECT_EQ(Call({0x05, 0x45, 0x10, 0x32}), WithCrc({0x05, 0x45, 0x10, 0x32}));
  EXPECT_TRUE(Call({0x05, 0x41}).empty());
  bench->Wait(300);
  EXPECT_EQ(Call({0x05, 0x45, 0x10, 0x33}), WithCrc({0x05, 0x45, 0x10, 0x33, 0x00}));
  bench->Wait(1000);
  EXPECT_EQ(Call({0x05, 0x45, 0x10, 0x33}), WithCrc({0x05, 0x45, 0x10, 0x33, 0x01}));
}

TEST_F(ApplicationTest, GotoBootLoaderRestartsIntoTheBootLoaderAtAddressOne) {
  EXPECT_EQ(Call({0x05, 0x45, 0x10, 0x11}), WithCrc({0x05, 0x45, 0x10, 0x11}));
  EXPECT_TRUE(network.connected()->restarting);
  bench->Wait(400);
  EXPECT_EQ(network.connected()->role, SimRole::kBootLoader);
  EXPECT_TRUE(SimNetwork::Hears(*network.connected(), Line(9600)));
  EXPECT_TRUE(SimNetwork::Hears(*network.connected(), Line(115200)));
  EXPECT_FALSE(SimNetwork::Hears(*network.connected(), Line(19200)));
}

}  // namespace
}  // namespace kel::sim
