#include "unit/unit_info_report.h"

#include <gtest/gtest.h>

#include "tests/runtime_fixture.h"
#include "unit/card_table.h"
#include "unit/update_acceptance.h"
#include "unit/version_text.h"

namespace kel {
namespace {

UnitInfo Kt3() {
  UnitInfo unit;
  unit.connectionMode = modeApplication;
  unit.cardNumber = 648;
  unit.circuitCode = 5;
  unit.cardSuffixLetter = 1;
  unit.cardSuffixNumber = 2;
  unit.softwareVersion = 610;
  unit.softwareRelease = 57;
  unit.serialNumber = 123456;
  const uint8_t built[6] = {26, 1, 15, 8, 30, 0};
  std::copy(built, built + 6, unit.buildTime);
  unit.buildIncrement = 4;
  unit.bootLoaderVersion = 3;
  unit.bootLoaderRelease = 18;
  unit.softwareChecksum = 0x0012ABCD;
  unit.softwareCrc = 0xBEEF;
  unit.bootFlags = 0x02;
  unit.unitFlags = 0x01;
  unit.mcuType = mcuLPC1768;
  return unit;
}

struct ReportTest : ::testing::Test, RuntimeFixture {
  ReportTest() { options.debug = true; }
};

TEST_F(ReportTest, TransmitterAtCurrentSoftware) {
  PrintUnitInfo(out, Kt3());
  EXPECT_EQ(Console(),
            "   Unit Type       : KT3 Transmitter\r\n"
            "   Card            : c648r5A2\r\n"
            "   Software        : v6.10r57\r\n"
            "   Serial No       : 123456\r\n"
            "   Build time      : 2026-01-15 08:30:00\r\n"
            "   Build increment : 4\r\n"
            "   Boot loader     : v3 r18\r\n"
            "   MCU Type        : LPC1768\r\n"
            "   Checksum        : 0012ABCD BEEF");
}

TEST_F(ReportTest, DisplayInBootLoaderWithJtagWarning) {
  UnitInfo unit;
  unit.connectionMode = modePonderixBootLoader;
  unit.cardNumber = 653;
  unit.circuitCode = 2;
  unit.cardSuffixLetter = 3;  // not shown outside the application
  unit.softwareVersion = 605;
  unit.softwareRelease = 3;
  unit.bootLoaderVersion = 4;
  unit.bootLoaderRelease = 20;
  unit.bootFlags = 0x42;
  unit.mcuType = mcuLPC4337;
  PrintUnitInfo(out, unit);
  EXPECT_EQ(Console(),
            "   Unit Type       : KD4/KP4 Display\r\n"
            "   Card            : c653r2\r\n"
            "   Software        : v6.05r03\r\n"
            "   Boot loader     : v4 r20\r\n"
            "   MCU Type        : LPC4337\r\n"
            "   Checksum        : 00000000 0000\r\n"
            "                     WARNING: JTAG interface is active!\r\n\a");
}

TEST_F(ReportTest, ShortReportStopsAfterTheMcuLine) {
  UnitInfo unit = Kt3();
  unit.cardSuffixLetter = 0;
  PrintUnitInfo(out, unit, true);
  EXPECT_EQ(Console(),
            "   Unit Type       : KT3 Transmitter\r\n"
            "   Card            : c648r5-2\r\n"
            "   MCU Type        : LPC1768");
}

TEST_F(ReportTest, OldH8UnitAndPreProductionBoard) {
  UnitInfo unit;
  unit.connectionMode = modeApplication;
  unit.cardNumber = 620;
  unit.circuitCode = 2;
  unit.softwareVersion = 610;
  unit.softwareRelease = 5;
  unit.serialNumber = 9;
  unit.bootLoaderVersion = 2;
  unit.bootLoaderRelease = 4;
  unit.bootFlags = 0x80;
  unit.unitFlags = 0xC0;  // the test-software lines take precedence over the JTAG warning
  unit.modbusAddress = 3;
  unit.informationText = "bench";
  unit.mcuType = mcuH8S2145;
  PrintUnitInfo(out, unit);
  const std::string text = Console();
  EXPECT_NE(text.find("   Card            : 620\r\n   Circuit code    : 2\r\n"
                      "   Software        : v6.10\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("   Information     : bench\r\n   Modbus Address  : 3\r\n"
                      "   Boot loader     : v r4\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Test software present (pre-production board)\r\n"
                      "                     - pre-production boot loader\r\n"
                      "                     - card tester software"),
            std::string::npos);
  EXPECT_EQ(text.find("JTAG"), std::string::npos);
}

TEST_F(ReportTest, SilentRunKeepsTheReportOffTheConsole) {
  options.silent = true;
  options.debug = false;
  PrintUnitInfo(out, Kt3());
  EXPECT_EQ(Console(), "");
}

TEST(CardTable, McuTypeFollowsTheCircuitCode) {
  int8_t mcu = mcuUnknown;
  EXPECT_TRUE(CardMcuType(648, 5, mcu));
  EXPECT_EQ(mcu, mcuLPC1768);
  EXPECT_TRUE(CardMcuType(648, 6, mcu));
  EXPECT_EQ(mcu, mcuLPC4078);
  EXPECT_TRUE(CardMcuType(647, 7, mcu));
  EXPECT_EQ(mcu, mcuLPC4357);
  EXPECT_TRUE(CardMcuType(647, 2, mcu));
  EXPECT_EQ(mcu, mcuLPC2478);

  UnitInfo unit;
  unit.cardNumber = 647;
  unit.circuitCode = 5;  // no MCU type for this revision: the old one stays
  unit.mcuType = mcuLPC4357;
  EXPECT_TRUE(ApplyCardTable(unit));
  EXPECT_EQ(unit.mcuType, mcuLPC4357);
  EXPECT_EQ(unit.unitType, unitTypeDisplay);
  unit.cardNumber = 655;
  EXPECT_FALSE(ApplyCardTable(unit));
}

TEST(CardTable, NamesAndVersionText) {
  EXPECT_EQ(CardName(649), "KR3 Remote I/O Unit");
  EXPECT_EQ(CardShortName(652), "KJ3");
  EXPECT_EQ(CardName(655), "Unsupported Card Number");
  EXPECT_EQ(CardShortName(655), "Card655");
  EXPECT_EQ(McuTypeName(7), "LPC4357");
  EXPECT_EQ(McuTypeName(0), "");
  EXPECT_EQ(McuTypeName(-3), "");
  EXPECT_EQ(McuTypeName(8), "");
  EXPECT_EQ(FormatVersion(610, 5), "6.10r05");
  EXPECT_EQ(FormatVersion(5, 123), "0.05r123");
  EXPECT_EQ(FormatVersionNumber(-5), "-0.05");
}

struct AcceptanceTest : ::testing::Test, RuntimeFixture {
  AcceptanceTest() { options.debug = true; }
};

TEST_F(AcceptanceTest, EachRefusalHasItsReason) {
  UnitInfo unit = Kt3();
  EXPECT_TRUE(AcceptsUpdateFiles(out, unit));
  EXPECT_NE(console.output().find("COMPLETE: unit will accept update files"), std::string::npos);

  struct Case {
    void (*change)(UnitInfo&);
    const char* reason;
  } cases[] = {
      {[](UnitInfo& u) { u.softwareVersion = 599; }, "does not support update files"},
      {[](UnitInfo& u) { u.connectionMode = modePonderixBootLoader; },
       "does not support update files"},
      {[](UnitInfo& u) { u.bootLoaderRelease = 13; }, "(needs boot loader release 14 or later)"},
      {[](UnitInfo& u) { u.mcuType = mcuH8S2145; }, "MCU does not support software update files"},
      {[](UnitInfo& u) { u.unitFlags = 0x80; }, "Unit reports that it will not accept"},
  };
  for (const Case& c : cases) {
    console.ClearOutput();
    UnitInfo changed = Kt3();
    c.change(changed);
    EXPECT_FALSE(AcceptsUpdateFiles(out, changed)) << c.reason;
    EXPECT_NE(console.output().find(c.reason), std::string::npos) << console.output();
  }
}

}  // namespace
}  // namespace kel
