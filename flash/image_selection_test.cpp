#include "flash/image_selection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/image_catalogue.h"
#include "flash/record_image.h"
#include "tests/runtime_fixture.h"

namespace kel {
namespace {

class SelectionTest : public ::testing::Test, public RuntimeFixture {
 protected:
  SelectionTest() {
    options.debug = true;  // the selection lines are debug lines
    options.yesToPrompts = true;
  }

  // The console text split into lines; the console writer holds the last
  // line break back, so lines are compared without their breaks.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    const std::string& text = console.output();
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find("\r\n", start);
      if (end == std::string::npos) end = text.size();
      if (end > start) lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  // Runs `body`, which must end the run, and returns the fatal message.
  template <typename Body>
  std::string FatalOf(Body body) {
    try {
      body();
    } catch (const ExitRequested&) {
      const std::vector<std::string> lines = Lines();
      const std::string lead = "Fatal Error: ";
      if (!lines.empty() && lines.back().rfind(lead, 0) == 0)
        return lines.back().substr(lead.size());
      return "(no fatal line)";
    }
    return "(returned)";
  }

  static UnitInfo Unit(int8_t mcu, uint8_t unitType, int8_t version, uint32_t bufferSize = 128) {
    UnitInfo unit;
    unit.mcuType = mcu;
    unit.unitType = unitType;
    unit.bootLoaderVersion = version;
    unit.bufferSize = bufferSize;
    return unit;
  }
};

struct ProgrammerCase {
  int8_t mcu;
  uint8_t unitType;
  int8_t version;
  uint32_t bufferSize;
  uint32_t size;
  const char* message;
  uint32_t startAddress;
};

constexpr const char* kLargeLine = "-- using large packet flash programmer";

// Every cell of the programmer table, each in its normal and large class.
// clang-format off
const ProgrammerCase kProgrammerCases[] = {
    {mcuLPC1768, unitTypeTransmitter, 3, 128, 30846, "-- selected flash programmer for KT3 LPC1768 C3", 0x100002CD},
    {mcuLPC1768, unitTypeTransmitter, 3, 8192, 29484, "-- selected flash programmer for KT3 LPC1768 LARGE C3", 0x100002CD},
    {mcuLPC1768, unitTypeTransmitter, 4, 128, 30846, "-- selected flash programmer for KT3 LPC1768 C4", 0x100002CD},
    {mcuLPC1768, unitTypeTransmitter, 4, 8192, 29484, "-- selected flash programmer for KT3 LPC1768 LARGE C4", 0x100002CD},
    {mcuLPC1768, unitTypeIOUnit, 3, 128, 30216, "-- selected flash programmer for KR3 LPC1768 C3", 0x100002CD},
    {mcuLPC1768, unitTypeIOUnit, 3, 8192, 28884, "-- selected flash programmer for KR3 LPC1768 LARGE C3", 0x100002CD},
    {mcuLPC1768, unitTypeIOUnit, 4, 128, 30216, "-- selected flash programmer for KR3 LPC1768 C4", 0x100002CD},
    {mcuLPC1768, unitTypeIOUnit, 4, 8192, 28884, "-- selected flash programmer for KR3 LPC1768 LARGE C4", 0x100002CD},
    {mcuLPC2478, unitTypeDisplay, 3, 128, 34948, "-- selected flash programmer for KD3 LPC2478 C3", 0x40000200},
    {mcuLPC2478, unitTypeTestJig, 3, 8192, 33412, "-- selected flash programmer for KD3 LPC2478 LARGE C3", 0x40000200},
    {mcuLPC2478, unitTypeUnknown, 4, 128, 34948, "-- selected flash programmer for KD3 LPC2478 C4", 0x40000200},
    {mcuLPC2478, unitTypeDisplay, 4, 8192, 33412, "-- selected flash programmer for KD3 LPC2478 LARGE C4", 0x40000200},
    {mcuLPC4078, unitTypeTransmitter, 3, 128, 31218, "-- selected flash programmer for KT3 LPC4078 C3", 0x100002E5},
    {mcuLPC4078, unitTypeTransmitter, 3, 8192, 29844, "-- selected flash programmer for KT3 LPC4078 LARGE C3", 0x100002E5},
    {mcuLPC4078, unitTypeIOUnit, 4, 128, 31218, "-- selected flash programmer for KT3 LPC4078 C4", 0x100002E5},
    {mcuLPC4078, unitTypeDisplay, 4, 8192, 29844, "-- selected flash programmer for KT3 LPC4078 LARGE C4", 0x100002E5},
    {mcuLPC4357, unitTypeDisplay, 3, 128, 33660, "-- selected flash programmer for KD3 LPC4357 C3", 0x10080315},
    {mcuLPC4357, unitTypeDisplay, 3, 8192, 32172, "-- selected flash programmer for KD3 LPC4357 LARGE C3", 0x10080315},
    {mcuLPC4357, unitTypeDisplay, 4, 128, 33660, "-- selected flash programmer for KD3 LPC4357 C4", 0x10080315},
    {mcuLPC4357, unitTypeDisplay, 4, 8192, 32172, "-- selected flash programmer for KD3 LPC4357 LARGE C4", 0x10080315},
    {mcuLPC4337, unitTypeDisplay, 3, 128, 40514, "-- selected flash programmer for KD4 LPC4337 C3", 0x10080315},
    {mcuLPC4337, unitTypeDisplay, 3, 8192, 38726, "-- selected flash programmer for KD4 LPC4337 LARGE C3", 0x10080315},
    {mcuLPC4337, unitTypeDisplay, 4, 128, 40514, "-- selected flash programmer for KD4 LPC4337 C4", 0x10080315},
    {mcuLPC4337, unitTypeDisplay, 4, 8192, 38726, "-- selected flash programmer for KD4 LPC4337 LARGE C4", 0x10080315},
    {mcuLPC4337, unitTypeTransmitter, 3, 128, 31706, "-- selected flash programmer for KT5 LPC4337 C3", 0x10080315},
    {mcuLPC4337, unitTypeTransmitter, 3, 256, 30308, "-- selected flash programmer for KT5 LPC4337 C3", 0x10080315},
    {mcuLPC4337, unitTypeTransmitter, 4, 128, 31706, "-- selected flash programmer for KT5 LPC4337 C4", 0x10080315},
    {mcuLPC4337, unitTypeTransmitter, 4, 8192, 30308, "-- selected flash programmer for KT5 LPC4337 C4", 0x10080315},
};
// clang-format on

TEST_F(SelectionTest, EveryProgrammerCellSelectsItsImageAndLine) {
  std::vector<const ImageRef*> seen;
  for (const ProgrammerCase& c : kProgrammerCases) {
    SCOPED_TRACE(c.message + std::string(" buffer ") + std::to_string(c.bufferSize));
    console.ClearOutput();
    UnitInfo unit = Unit(c.mcu, c.unitType, c.version, c.bufferSize);
    ASSERT_TRUE(SelectFlashProgrammer(runtime, unit, false));
    ASSERT_NE(unit.flashProgrammer, nullptr);
    EXPECT_EQ(unit.flashProgrammer->size, c.size);
    EXPECT_EQ(unit.stringsProgrammer, nullptr);
    std::vector<std::string> expected{c.message};
    if (c.mcu == mcuLPC1768 && c.bufferSize > 128) expected.push_back(kLargeLine);
    EXPECT_EQ(Lines(), expected);
    RecordImage image;
    ASSERT_TRUE(image.Parse(unit.flashProgrammer->bytes, unit.flashProgrammer->size));
    EXPECT_EQ(image.startAddress(), c.startAddress);
    for (const ImageRef* other : seen) EXPECT_NE(other, unit.flashProgrammer) << "image shared";
    seen.push_back(unit.flashProgrammer);
  }
}

TEST_F(SelectionTest, BufferSizeAbove128SelectsLargeProgrammer) {
  UnitInfo normal = Unit(mcuLPC1768, unitTypeTransmitter, 4, 128);
  UnitInfo large = Unit(mcuLPC1768, unitTypeTransmitter, 4, 129);
  SelectFlashProgrammer(runtime, normal, false);
  SelectFlashProgrammer(runtime, large, false);
  EXPECT_EQ(normal.flashProgrammer->size, 30846u);
  EXPECT_EQ(large.flashProgrammer->size, 29484u);
}

TEST_F(SelectionTest, H8S2145TransmitterGetsStringsProgrammerDisplayDoesNot) {
  UnitInfo transmitter = Unit(mcuH8S2145, unitTypeTransmitter, 3, 8192);
  ASSERT_TRUE(SelectFlashProgrammer(runtime, transmitter, false));
  EXPECT_EQ(transmitter.flashProgrammer->size, 6144u);
  ASSERT_NE(transmitter.stringsProgrammer, nullptr);
  EXPECT_EQ(transmitter.stringsProgrammer->size, 4768u);
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{"-- selected flash programmer for H8S2145 C3",
                                      "-- selected language strings programmer for H8S2145 C3"}));
  console.ClearOutput();
  UnitInfo display = Unit(mcuH8S2145, unitTypeDisplay, 2);
  // A pre-production flag does not matter on H8 units.
  display.bootFlags = 0x80;
  ASSERT_TRUE(SelectFlashProgrammer(runtime, display, true));
  EXPECT_EQ(display.flashProgrammer->size, 6144u);
  EXPECT_NE(display.flashProgrammer, transmitter.flashProgrammer);
  EXPECT_EQ(display.stringsProgrammer, nullptr);
  EXPECT_EQ(Lines(), std::vector<std::string>{"-- selected flash programmer for H8S2145 C2"});
  RecordImage image;
  ASSERT_TRUE(image.Parse(display.flashProgrammer->bytes, display.flashProgrammer->size));
  EXPECT_EQ(image.startAddress(), 0x00FFD088u);
}

TEST_F(SelectionTest, UnsupportedBootLoaderVersionsAreFatal) {
  const std::string refused = "KelUpdater cannot update this unit: unsupported boot loader version";
  for (int8_t version : {0, 1, 2, 5}) {
    UnitInfo unit = Unit(mcuLPC4337, unitTypeDisplay, version);
    EXPECT_EQ(FatalOf([&] { SelectFlashProgrammer(runtime, unit, false); }), refused);
  }
  for (int8_t version : {1, 4}) {
    UnitInfo unit = Unit(mcuH8S2145, unitTypeTransmitter, version);
    EXPECT_EQ(FatalOf([&] { SelectFlashProgrammer(runtime, unit, false); }), refused);
  }
}

TEST_F(SelectionTest, UnitTypesOutsideTheTableAreFatalWithTheirSite) {
  struct Case {
    int8_t mcu;
    uint8_t unitType;
    int8_t version;
    uint32_t bufferSize;
    const char* message;
  };
  const Case cases[] = {
      {mcuLPC1768, unitTypeDisplay, 3, 8192, "Unsupported unit L1032"},
      {mcuLPC1768, unitTypeDisplay, 3, 128, "Unsupported unit L1045"},
      {mcuLPC1768, unitTypeTestJig, 4, 8192, "Unsupported unit L1091"},
      {mcuLPC1768, unitTypeUnknown, 4, 128, "Unsupported unit L1104"},
      {mcuLPC4357, unitTypeTransmitter, 3, 128, "Unknown unit type (MCU LPC4357)"},
      {mcuLPC4337, unitTypeIOUnit, 4, 8192, "Unknown unit type (MCU LPC4337)"},
  };
  for (const Case& c : cases) {
    UnitInfo unit = Unit(c.mcu, c.unitType, c.version, c.bufferSize);
    EXPECT_EQ(FatalOf([&] { SelectFlashProgrammer(runtime, unit, false); }), c.message);
  }
}

TEST_F(SelectionTest, OtherMcuTypesFindNoProgrammer) {
  for (int8_t mcu : {int8_t{mcuUnknown}, int8_t{mcuH8S2148}, int8_t{8}}) {
    UnitInfo unit = Unit(mcu, unitTypeDisplay, 3);
    EXPECT_EQ(FatalOf([&] { SelectFlashProgrammer(runtime, unit, false); }),
              "Cannot find a flash programmer for unit");
  }
}

TEST_F(SelectionTest, TesterBoardKeepsFetchedProgrammerOrStops) {
  // Pre-production boot loader, nothing fetched: the TESTER line, then fatal.
  UnitInfo unit = Unit(mcuLPC1768, unitTypeTransmitter, 4, 8192);
  unit.bootFlags = 0x80;
  EXPECT_EQ(FatalOf([&] { SelectFlashProgrammer(runtime, unit, false); }),
            "Cannot find a flash programmer for unit");
  EXPECT_EQ(Lines().front(), "-- needs flash programmer for TESTER");

  // With a programmer from the boot tool, that one is kept.
  console.ClearOutput();
  ImageRef fetched;
  unit.flashProgrammer = &fetched;
  ASSERT_TRUE(SelectFlashProgrammer(runtime, unit, false));
  EXPECT_EQ(unit.flashProgrammer, &fetched);
  EXPECT_EQ(Lines(), std::vector<std::string>{"-- needs flash programmer for TESTER"});
}

TEST_F(SelectionTest, CardTesterSoftwareCountsOnlyWithUpdateFiles) {
  UnitInfo direct = Unit(mcuLPC4337, unitTypeTransmitter, 3);
  direct.unitFlags = 0x80;
  ASSERT_TRUE(SelectFlashProgrammer(runtime, direct, false));
  EXPECT_EQ(direct.flashProgrammer->size, 31706u);

  console.ClearOutput();
  UnitInfo updateFiles = Unit(mcuLPC4337, unitTypeTransmitter, 3);
  updateFiles.unitFlags = 0x80;
  EXPECT_EQ(FatalOf([&] { SelectFlashProgrammer(runtime, updateFiles, true); }),
            "Cannot find a flash programmer for unit");
  EXPECT_EQ(Lines().front(), "-- needs flash programmer for TESTER");
}

TEST_F(SelectionTest, BootLoaderTable) {
  struct Case {
    int8_t mcu;
    uint8_t unitType;
    uint16_t blockSize;
    uint32_t size;
  };
  const Case cases[] = {
      {mcuLPC2478, unitTypeDisplay, 256, 13348},     {mcuLPC2478, unitTypeTransmitter, 256, 13348},
      {mcuLPC1768, unitTypeTransmitter, 256, 12068}, {mcuLPC1768, unitTypeIOUnit, 256, 12324},
      {mcuLPC4078, unitTypeTransmitter, 256, 12580}, {mcuLPC4078, unitTypeDisplay, 256, 12580},
      {mcuLPC4337, unitTypeDisplay, 512, 14372},     {mcuLPC4337, unitTypeTransmitter, 512, 13860},
      {mcuLPC4357, unitTypeDisplay, 512, 15396},
  };
  for (const Case& c : cases) {
    UnitInfo unit = Unit(c.mcu, c.unitType, 4);
    ASSERT_TRUE(SelectBootLoaderImage(runtime, unit));
    ASSERT_NE(unit.bootLoaderImage, nullptr);
    EXPECT_EQ(unit.bootLoaderImage->size, c.size);
    EXPECT_EQ(unit.flashBlockSize, c.blockSize);
    EXPECT_TRUE(unit.backupEnabled);
  }
}

TEST_F(SelectionTest, BootLoaderBackupFlagAndUnsupportedUnits) {
  UnitInfo preProduction = Unit(mcuLPC1768, unitTypeTransmitter, 4);
  preProduction.bootFlags = 0x80;
  ASSERT_TRUE(SelectBootLoaderImage(runtime, preProduction));
  EXPECT_FALSE(preProduction.backupEnabled);
  UnitInfo cardTester = Unit(mcuLPC4337, unitTypeDisplay, 4);
  cardTester.unitFlags = 0x80;
  ASSERT_TRUE(SelectBootLoaderImage(runtime, cardTester));
  EXPECT_FALSE(cardTester.backupEnabled);

  UnitInfo lpc1768 = Unit(mcuLPC1768, unitTypeDisplay, 4);
  EXPECT_EQ(FatalOf([&] { SelectBootLoaderImage(runtime, lpc1768); }), "Unsupported unit L1551");
  UnitInfo lpc4337 = Unit(mcuLPC4337, unitTypeIOUnit, 4);
  EXPECT_EQ(FatalOf([&] { SelectBootLoaderImage(runtime, lpc4337); }), "Unsupported unit L1563");
  UnitInfo lpc4357 = Unit(mcuLPC4357, unitTypeTransmitter, 4);
  EXPECT_EQ(FatalOf([&] { SelectBootLoaderImage(runtime, lpc4357); }), "Unsupported unit L1574");
}

TEST_F(SelectionTest, BootLoaderOutsideMcuRangeChangesNothing) {
  for (int8_t mcu : {int8_t{mcuUnknown}, int8_t{mcuH8S2148}, int8_t{8}, int8_t{-1}}) {
    UnitInfo unit = Unit(mcu, unitTypeDisplay, 4);
    unit.flashBlockSize = 77;
    EXPECT_FALSE(SelectBootLoaderImage(runtime, unit));
    EXPECT_EQ(unit.flashBlockSize, 77);
    EXPECT_EQ(unit.bootLoaderImage, nullptr);
  }
  UnitInfo h8 = Unit(mcuH8S2145, unitTypeTransmitter, 3);
  ASSERT_TRUE(SelectBootLoaderImage(runtime, h8));
  EXPECT_EQ(h8.flashBlockSize, 128);
  EXPECT_EQ(h8.bootLoaderImage, nullptr);
  EXPECT_FALSE(h8.backupEnabled);
}

TEST_F(SelectionTest, SoftwareTable) {
  struct Case {
    uint8_t unitType;
    int8_t mcu;
    uint32_t size;
  };
  const Case cases[] = {
      {unitTypeDisplay, mcuLPC2478, 409144},     {unitTypeDisplay, mcuLPC4337, 988386},
      {unitTypeDisplay, mcuLPC4357, 899744},     {unitTypeTransmitter, mcuLPC1768, 464994},
      {unitTypeTransmitter, mcuLPC4078, 496250}, {unitTypeTransmitter, mcuLPC4337, 693776},
      {unitTypeIOUnit, mcuLPC1768, 183446},
  };
  for (const Case& c : cases) {
    UnitInfo unit = Unit(c.mcu, c.unitType, 4);
    SelectSoftwareImage(unit);
    ASSERT_NE(unit.softwareImage, nullptr);
    EXPECT_EQ(unit.softwareImage->size, c.size);
  }
  // Combinations without software leave the record empty.
  for (auto [type, mcu] : {std::pair<uint8_t, int8_t>{unitTypeDisplay, mcuLPC1768},
                           {unitTypeIOUnit, mcuLPC4337},
                           {unitTypeTestJig, mcuLPC2478},
                           {unitTypeTransmitter, mcuH8S2145}}) {
    UnitInfo unit = Unit(mcu, type, 4);
    unit.softwareImage = CatalogueImage("soft_kt3_lpc1768");
    SelectSoftwareImage(unit);
    EXPECT_EQ(unit.softwareImage, nullptr);
  }
}

TEST_F(SelectionTest, ChecksumComparisonLines) {
  UnitInfo unit = Unit(mcuLPC1768, unitTypeTransmitter, 4);
  unit.softwareChecksum = 0xAA30E654;
  unit.softwareCrc = 0x5F8A;
  EXPECT_FALSE(CompareSoftwareChecksum(runtime, unit));
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{"New software checksum=AA30E654 CRC=5F8A",
                                      "Current software checksum=AA30E654 CRC=5F8A",
                                      "Current software is the same as the new software"}));

  // The CRC alone differing is enough.
  console.ClearOutput();
  UnitInfo display = Unit(mcuLPC4337, unitTypeDisplay, 4);
  display.softwareChecksum = 0x1CD6C5F0;
  display.softwareCrc = 0x0001;
  EXPECT_TRUE(CompareSoftwareChecksum(runtime, display));
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{"New software checksum=1CD6C5F0 CRC=26D1",
                                      "Current software checksum=1CD6C5F0 CRC=0001",
                                      "Current software is different than the new software"}));

  UnitInfo ioUnit = Unit(mcuLPC1768, unitTypeIOUnit, 4);
  ioUnit.softwareChecksum = 0x46199723;
  ioUnit.softwareCrc = 0x687D;
  EXPECT_TRUE(CompareSoftwareChecksum(runtime, ioUnit));
}

TEST_F(SelectionTest, ChecksumOfUnsupportedUnitIsFatalWithItsSite) {
  const std::pair<UnitInfo, const char*> cases[] = {
      {Unit(mcuLPC1768, unitTypeDisplay, 4), "Unsupported unit L120"},
      {Unit(mcuLPC2478, unitTypeTransmitter, 4), "Unsupported unit L138"},
      {Unit(mcuLPC4337, unitTypeIOUnit, 4), "Unsupported unit L147"},
      {Unit(mcuLPC1768, unitTypeTestJig, 4), "Unsupported unit L153"},
      {Unit(mcuLPC1768, unitTypeUnknown, 4), "Unsupported unit L153"},
  };
  for (const auto& [unit, message] : cases) {
    EXPECT_EQ(FatalOf([&] { CompareSoftwareChecksum(runtime, unit); }), message);
  }
}

}  // namespace
}  // namespace kel
