#include "unit/programmer_note.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

NotedProgrammer SampleNote() {
  NotedProgrammer noted;
  noted.unit.cardNumber = 653;
  noted.unit.circuitCode = 2;
  noted.unit.serialNumber = -7;
  noted.unit.mcuType = mcuLPC4337;
  noted.unit.unitType = unitTypeDisplay;
  noted.unit.bootLoaderVersion = 4;
  noted.unit.bootLoaderRelease = 18;
  noted.unit.softwareVersion = 608;
  noted.unit.softwareRelease = 12;
  noted.unit.buildIncrement = -1;
  noted.unit.modbusAddress = 10;
  noted.baudRate = 921600;
  noted.jigAddress = 60;
  noted.bootLoader = NotedProgrammer::BootLoader::kUnderWay;
  noted.softwareDue = true;
  noted.backupCheck = 0xBEEF;
  noted.keptCopy = "BackupFields-653--7-a1B2c3.bin";
  return noted;
}

// What the note must carry survives the round trip; any other text, cut
// short, edited or from another layout, is no note at all.
TEST(ProgrammerNote, ReadsOnlyWhatItWrites) {
  const std::string text = ProgrammerNote::Format(SampleNote());
  const std::optional<NotedProgrammer> back = ProgrammerNote::Parse(text);
  ASSERT_TRUE(back.has_value()) << text;
  EXPECT_EQ(ProgrammerNote::Format(*back), text);
  EXPECT_EQ(back->unit.serialNumber, -7);
  EXPECT_EQ(back->bootLoader, NotedProgrammer::BootLoader::kUnderWay);
  EXPECT_EQ(back->jigAddress, 60);
  EXPECT_EQ(back->keptCopy, "BackupFields-653--7-a1B2c3.bin");
  EXPECT_EQ(back->backupCheck, 0xBEEF);

  for (const std::string& bad :
       {std::string(), text.substr(0, 24), text + " 0", "P2" + text.substr(2),
        text.substr(0, 3) + "921601" + text.substr(9), text + "\n",
        text.substr(0, text.rfind(' ')) + " ../x.bin", text.substr(0, 3) + "0" + text.substr(3)}) {
    EXPECT_FALSE(ProgrammerNote::Parse(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace kel
