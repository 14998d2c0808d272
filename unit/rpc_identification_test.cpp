#include "unit/rpc_identification.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/unit_fixture.h"

namespace kel {
namespace {

struct IdentificationTest : ::testing::Test, UnitFixture {
  /// Answers every request for `command` with `fields`; other requests get no answer.
  void Answer(uint16_t command, std::vector<uint8_t> fields) {
    answers[command] = std::move(fields);
    peer.answer =
        [this](const std::vector<uint8_t>& request) -> std::optional<std::vector<uint8_t>> {
      auto it = answers.find(wire::Command(request));
      if (it == answers.end()) return std::nullopt;
      return wire::Reply(request[0], it->first, it->second);
    };
  }
  UnitInfo unit = RunningUnit(5);
  std::map<uint16_t, std::vector<uint8_t>> answers;
};

TEST_F(IdentificationTest, ReadUnitInfoDecodesCardAndBuildIncrement) {
  // KT3 card 648, circuit 6, software 6.10, build increment 3 in the high byte.
  Answer(0x1010, {0x02, 0x88, 0x00, 0x06, 0x02, 0x62, 0x03, 0x77});
  unit.productWord = 0x1234;
  EXPECT_TRUE(ReadUnitInfo(link, unit));
  EXPECT_EQ(unit.cardNumber, 648);
  EXPECT_EQ(unit.circuitCode, 6);
  EXPECT_EQ(unit.softwareVersion, 610);
  EXPECT_EQ(unit.buildIncrement, 3);
  EXPECT_EQ(unit.productWord, 0x1234);  // only older software reports it here
  EXPECT_EQ(unit.mcuType, mcuLPC4078);
  EXPECT_EQ(unit.unitType, unitTypeTransmitter);
  EXPECT_NE(Console().find("RPC: ReadUnitInfo\r\nCard Number=648 KT3 Transmitter\r\nMCU Type=4\r\n"
                           "Software Version=6.10\r\nCOMPLETE"),
            std::string::npos)
      << Console();
}

TEST_F(IdentificationTest, ReadUnitInfoOfOldSoftwareKeepsTheProductWord) {
  Answer(0x1010, {0x02, 0x6C, 0x00, 0x01, 0x01, 0xF4, 0xAB, 0xCD});  // card 620, 5.00
  EXPECT_TRUE(ReadUnitInfo(link, unit));
  EXPECT_EQ(unit.productWord, 0xABCD);
  EXPECT_EQ(unit.buildIncrement, 0);
  EXPECT_EQ(unit.mcuType, mcuH8S2145);
}

TEST_F(IdentificationTest, UnsupportedCardEndsTheRun) {
  Answer(0x1010, {0x02, 0x8F, 0x00, 0x01, 0x02, 0x62, 0x00, 0x00});  // card 655
  EXPECT_EQ(ExitCodeOf([&] { ReadUnitInfo(link, unit); }), 1);
  EXPECT_NE(Console().find("Unsupported Card Number: 655"), std::string::npos);
}

TEST_F(IdentificationTest, ReadUnitInfoGivesUpAfterFourExchanges) {
  unit.cardNumber = 611;
  EXPECT_FALSE(ReadUnitInfo(link, unit));
  EXPECT_EQ(peer.frames.size(), 4u);
  EXPECT_EQ(unit.cardNumber, 611);
}

TEST_F(IdentificationTest, BootLoaderReleaseFieldsAndFlagLines) {
  Answer(0x1013, {0x09, 0x05, 0x03, 0x12, 0xDE, 0xAD, 0xBE, 0xEF, 0xC1});
  EXPECT_TRUE(ReadBootLoaderRelease(link, unit));
  EXPECT_EQ(peer.Requests()[0], (std::vector<uint8_t>{0x01, 0x45, 0x10, 0x13, 0x01}));
  EXPECT_EQ(unit.bootLoaderInfo, 9);
  EXPECT_EQ(unit.mcuType, mcuLPC1768);
  EXPECT_EQ(unit.bootLoaderVersion, 3);
  EXPECT_EQ(unit.bootLoaderRelease, 18);
  EXPECT_EQ(unit.softwareChecksum, 0xDEADBEEFu);
  EXPECT_EQ(unit.bootFlags, 0xC1);
  EXPECT_NE(
      Console().find("MCUType=5 LPC1768\r\nBoot loader version=3\r\nBoot loader release=18\r\n"
                     "BootFlags=C1\r\n- No ponderix software present\r\n"
                     "- Flash checksum is disabled\r\n- JTAG interface is unlocked\r\n"
                     "- pre-production boot loader\r\nCOMPLETE"),
      std::string::npos)
      << Console();
}

TEST_F(IdentificationTest, SilentBootLoaderFallsBackToTheVersionByte) {
  unit.bootLoaderVersionByte = 0x53;
  unit.bootFlags = 0x80;
  EXPECT_FALSE(ReadBootLoaderRelease(link, unit));
  EXPECT_EQ(peer.frames.size(), 3u);
  EXPECT_EQ(unit.mcuType, mcuLPC1768);
  EXPECT_EQ(unit.bootLoaderVersion, 3);
  EXPECT_EQ(unit.bootLoaderRelease, 3);
  EXPECT_EQ(unit.bootFlags, 0);
}

TEST_F(IdentificationTest, AdvancedInfoWithTailAndSkippedExtraBytes) {
  std::vector<uint8_t> fields = {38,   0,    6,    4,    19,        // length, unused, MCU, boot v/r
                                 0x02, 0x8D, 0x00, 0x03, 2,    7,   // card 653, circuit 3, "B7"
                                 0x02, 0x62, 57,   0xFE,            // 6.10r57, increment -2
                                 26,   12,   7,    9,    30,   59,  // build time
                                 0x11, 0x22, 0x33, 0x44, 0xAB, 0xCD,  // checksum, CRC
                                 0x00, 0x01, 0xE2, 0x40, 0x00, 0x07,  // serial 123456, product word
                                 17,   0x41, 0xEE, 0xEE, 0xEE};  // Modbus, flags, 3 extra bytes
  Answer(0x1014, fields);
  EXPECT_TRUE(ReadAdvancedInfo(link, unit));
  EXPECT_EQ(unit.mcuType, mcuLPC4337);
  EXPECT_EQ(unit.bootLoaderVersion, 4);
  EXPECT_EQ(unit.bootLoaderRelease, 19);
  EXPECT_EQ(unit.cardNumber, 653);
  EXPECT_EQ(unit.circuitCode, 3);
  EXPECT_EQ(unit.cardSuffixLetter, 2);
  EXPECT_EQ(unit.cardSuffixNumber, 7);
  EXPECT_EQ(unit.softwareRelease, 57);
  EXPECT_EQ(unit.buildIncrement, -2);
  EXPECT_EQ(unit.buildTime[5], 59);
  EXPECT_EQ(unit.softwareChecksum, 0x11223344u);
  EXPECT_EQ(unit.softwareCrc, 0xABCD);
  EXPECT_EQ(unit.serialNumber, 123456);
  EXPECT_EQ(unit.productWord, 7);
  EXPECT_EQ(unit.modbusAddress, 17);
  EXPECT_EQ(unit.unitFlags, 0x41);
  EXPECT_EQ(unit.bootFlags, 2);
  EXPECT_NE(Console().find("Modbus Address=17\r\nMCUType=6 LPC4337\r\n"), std::string::npos);
}

TEST_F(IdentificationTest, AdvancedInfoWithoutTailAndOnlyForNewSoftware) {
  std::vector<uint8_t> fields(33, 0);
  fields[0] = 33;  // nothing after the head
  fields[2] = 7;
  unit.modbusAddress = 9;
  Answer(0x1014, fields);
  EXPECT_TRUE(ReadAdvancedInfo(link, unit));
  EXPECT_EQ(unit.mcuType, mcuLPC4357);
  EXPECT_EQ(unit.modbusAddress, 9);

  peer.frames.clear();
  unit.softwareVersion = 599;
  EXPECT_FALSE(ReadAdvancedInfo(link, unit));
  unit.softwareVersion = 610;
  unit.connectionMode = modePonderixBootLoader;
  EXPECT_FALSE(ReadAdvancedInfo(link, unit));
  EXPECT_TRUE(peer.frames.empty());
}

TEST_F(IdentificationTest, ExtendedInfoThenInformationText) {
  std::vector<uint8_t> fields = {24, 1, 0, 0, 0, 0, 0,  0, 0x00, 0x00, 0x30, 0x39, 0,
                                 0,  0, 0, 0, 0, 0, 25, 1, 2,    3,    4,    5,    5};
  Answer(0x1015, fields);
  Answer(0x1016, {'L', 'i', '\n', 'e', 0x7F});
  EXPECT_TRUE(ReadExtendedInfo(link, unit));
  EXPECT_EQ(unit.serialNumber, 12345);
  EXPECT_EQ(unit.buildTime[0], 25);
  EXPECT_EQ(unit.buildTime[5], 5);
  EXPECT_EQ(unit.informationText, "Li:e:");  // control characters, DEL too, become ":"
  EXPECT_NE(Console().find("Serial Number=12345\r\nCOMPLETE"), std::string::npos);
  EXPECT_NE(Console().find("Information=Li:e:\r\n"), std::string::npos);
}

TEST_F(IdentificationTest, ExtendedInfoAnnouncingMoreThanItHoldsIsRejected) {
  std::vector<uint8_t> fields(26, 0);
  fields[0] = 30;  // six bytes more than a 30-byte reply carries
  Answer(0x1015, fields);
  unit.serialNumber = 77;
  EXPECT_FALSE(ReadExtendedInfo(link, unit));
  EXPECT_EQ(peer.frames.size(), 2u);
  EXPECT_EQ(unit.serialNumber, 77);
}

TEST_F(IdentificationTest, VirtualComPortQuestionOnlyForNewSoftware) {
  Answer(0x101C, {1});
  unit.softwareVersion = 605;
  EXPECT_FALSE(IsVComPort(link, unit));
  EXPECT_TRUE(peer.frames.empty());
  unit.softwareVersion = 606;
  EXPECT_TRUE(IsVComPort(link, unit));
  EXPECT_NE(Console().find("COMPLETE: Result=1"), std::string::npos);
  Answer(0x101C, {0});
  EXPECT_FALSE(IsVComPort(link, unit));
}

}  // namespace
}  // namespace kel
