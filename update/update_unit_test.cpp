#include "update/update_unit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "link/packet_layer.h"
#include "sim/boot_region.h"
#include "unit/link_speed.h"
#include "unit/programmer_note.h"
#include "unit/programmer_probe.h"
#include "tests/platform_test_support.h"
#include "tests/update_fixture.h"
#include "tests/update_units.h"
#include "update/field_update.h"
#include "update/finish_direct_update.h"

namespace kel {
namespace {

TEST(UpdateUnit, DirectUpdateWritesSoftwareAndLanguageFilesKeepingTheBootLoader) {
  UpdateFixture f;
  f.options.debug = true;
  f.Start(kOldKt3);
  f.options.verify = true;
  ASSERT_EQ(f.Run([&] { FieldUpdateUnit(f.session, f.unit, true, false); }), -1) << f.Console();
  const sim::SimUnit& kt3 = *f.network->connected();
  EXPECT_TRUE(f.HoldsImage(kt3, "soft_kt3_lpc1768"));
  EXPECT_FALSE(f.Has("-- ponderix boot loader will be updated"));
  EXPECT_TRUE(
      f.Has("-- updating ponderix software because it is different than the current version"))
      << f.Console();
  for (uint16_t file : {0x1E0, 0x1E1, 0x1E2, 0x1E3, 0x1E5, 0x1E6, 0x1EA}) {
    EXPECT_FALSE(f.FileOf(kt3, 1, file).empty()) << std::hex << file;
  }
  EXPECT_TRUE(f.Has("Success: all operations are complete\r\n"));
  EXPECT_EQ(f.unit.softwareVersion, 610);
}

// A write that went through but left one wrong byte in the flash (a
// damaged frame that passed its CRC) is found by the restarted unit's own
// checksum: the run ends without a success.
TEST(UpdateUnit, SoftwareTheUnitDoesNotReportAfterTheRestartFailsTheRun) {
  UpdateFixture f;
  f.Start(kOldKt3);
  ASSERT_TRUE(UpdateUnit(f.session, f.unit, false, false, false)) << f.Console();
  sim::SimUnit& kt3 = *f.network->connected();
  constexpr uint32_t kInSoftware = 0x5000;
  kt3.flash.Write(kInSoftware, {static_cast<uint8_t>(kt3.flash.ReadByte(kInSoftware) ^ 0x01)});
  EXPECT_EQ(f.Run([&] { FinishDirectUpdate(f.link, f.unit); }), 1) << f.Console();
  EXPECT_TRUE(
      f.Has("Unable to update unit: the software in the unit does not match the new "
            "software after the update"))
      << f.Console();
  EXPECT_FALSE(f.Has("Success"));
}

// The unit refuses the write-back of its backup fields: the boot loader is
// written whole all the same, the run fails after it, and the fields as read
// before the erase stay in a file of the owner's, named on the console.
TEST(UpdateUnit, ARefusedWriteBackLeavesTheBootLoaderWholeAndTheFieldsInAFile) {
  UpdateFixture f;
  TemporaryFolder records;
  f.session.recordFolder = records.path();
  f.Start(std::string(kOldKt3) + "backup = fill 0x5A\n");
  f.options.updateBootLoader = true;
  f.Fault("hardware-failure command=0x1050 at=1 value=5");
  EXPECT_EQ(f.Run([&] { UpdateUnit(f.session, f.unit, false, false, false); }), 1) << f.Console();
  const sim::SimUnit& kt3 = *f.network->connected();
  EXPECT_TRUE(f.HoldsImage(kt3, "boot_kt3_lpc1768"));
  EXPECT_EQ(sim::ReadBootRegion(kt3).state, sim::BootRegionState::kWhole);
  std::string kept;
  for (const auto& entry : std::filesystem::directory_iterator(records.path())) {
    if (entry.path().filename().string().rfind("BackupFields-648-1-", 0) == 0) {
      kept = entry.path().string();
    }
  }
  ASSERT_FALSE(kept.empty()) << f.Console();
  EXPECT_TRUE(f.Has("The unit's backup fields as read before the update are kept in " + kept +
                    "\r\n"))
      << f.Console();
  EXPECT_TRUE(f.Has("Fatal Error: Unable to write the backup fields back: they are kept in " +
                    kept + "\r\n"));
  EXPECT_EQ(ReadTextFile(kept), std::string(256, '\x5A'));
#if !defined(_WIN32)
  struct stat info {};
  ASSERT_EQ(stat(kept.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
}

// A programmer left running whose unit's backup fields are not those the
// note's run read is not the noted unit: nothing is written into it.
TEST(UpdateUnit, AProgrammerInAnotherUnitThanTheNotedOneIsRefused) {
  UpdateFixture f;
  f.Start(std::string(kOldKt3) + "backup = fill 0x33\n");
  sim::SimUnit& kt3 = *f.network->connected();
  kt3.role = sim::SimRole::kProgrammer;
  kt3.autoBaud = false;
  kt3.baudRate = 115200;
  f.unit = UnitInfo{};
  f.unit.connectionMode = modeFlashProgrammer;
  f.unit.unitAddress = 1;
  ASSERT_TRUE(ChangePacketBaudRate(f.link, 115200, false, kLongTimeoutMs));
  NotedProgrammer note;
  note.unit.cardNumber = 648;
  note.unit.mcuType = mcuLPC1768;
  note.unit.unitType = unitTypeTransmitter;
  note.unit.bootLoaderRelease = 18;
  note.baudRate = 115200;
  note.bootLoader = NotedProgrammer::BootLoader::kUnderWay;
  const std::vector<uint8_t> other(256, 0x22);
  note.backupCheck = Crc16OfBuffer(other.data(), other.size());
  ProgrammerNote(f.registry, 3).Write(note);
  TakeNotedIdentity(f.unit, note);
  EXPECT_EQ(f.Run([&] { UpdateUnit(f.session, f.unit, false, false, false); }), 1) << f.Console();
  EXPECT_TRUE(f.Has("is not the one this computer's note of the earlier run names")) << f.Console();
  EXPECT_FALSE(f.Has("Preparing to update Boot Loader")) << f.Console();
  EXPECT_EQ(kt3.flash.ReadByte(0), 0xFF);  // nothing written
}

// Units that must not be written: each run ends before anything is sent
// to the unit's flash or drives.
TEST(UpdateUnit, RefusedUnitsAreLeftAsTheyAre) {
  struct Case {
    const char* units;
    const char* keys;
    const char* line;
  };
  const Case cases[] = {
      {"[unit h8]\ncard = 620\nsoftware = 5.10r01\nmodbus = 4\n", "",
       "Fatal Error: This version of KelUpdater is unable to update the software in old H8 "
       "units. Please use the older KelUpdater\r\n"},
      {"[unit kt5]\ncard = 659\nsoftware = 6.08r12\nmodbus = 5\nboot-flags = 0x82\n", "",
       "Fatal Error: Cannot update this unit (pre-production board)\r\n"},
      {"[unit kt3]\ncard = 648\nsoftware = 5.90r10\nmodbus = 4\n", "n",
       "Do you wish to upgrade this Ponderix unit? (y/n)n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.units);
    UpdateFixture f;
    f.Start(c.units);
    f.options.yesToPrompts = *c.keys == 0;
    f.console.AddKeys(c.keys);
    EXPECT_EQ(f.Run([&] { UpdateUnit(f.session, f.unit, false, false, true); }), 1);
    EXPECT_TRUE(f.Has(c.line)) << f.Console();
    for (const auto& entry : f.network->transcript().entries()) {
      if (entry.direction != sim::TranscriptEntry::Direction::kToUnit) continue;
      const std::vector<uint8_t>& b = entry.bytes;
      // No download, flash write or file creation reached the unit.
      for (size_t i = 0; i + 2 < b.size(); ++i) {
        ASSERT_FALSE(b[i] == 0x45 && b[i + 1] == 0x10 &&
                     (b[i + 2] == 0x20 || b[i + 2] == 0x24 || b[i + 2] == 0x40 || b[i + 2] == 0x42))
            << "a write request was sent";
      }
    }
    EXPECT_TRUE(f.network->connected()->files.Find(1, 0x1E0) == nullptr);
  }
}

// Update files: a run with nothing to write leaves the programmer out too.
TEST(UpdateUnit, TheProgrammerFileGoesOnlyWithSomethingToApply) {
  UpdateFixture f;
  f.Start(
      "[unit kt5]\ncard = 659\nsoftware = 6.10r57\nmodbus = 5\nboot-loader = 4r18\n"
      "checksum = 0x20513140\ncrc = 0xC139\n");
  ASSERT_EQ(f.Run([&] { EXPECT_TRUE(UpdateUnit(f.session, f.unit, false, true, false)); }), -1)
      << f.Console();
  EXPECT_TRUE(f.Has("-- ponderix software is already the correct version\r\n"));
  EXPECT_TRUE(f.Has("Sending flash programmer to unit...\r\n"));  // the language files were new
  EXPECT_FALSE(f.FileOf(*f.network->connected(), 193, 0).empty());

  f.console.ClearOutput();
  ASSERT_EQ(f.Run([&] { EXPECT_TRUE(UpdateUnit(f.session, f.unit, false, true, false)); }), -1)
      << f.Console();
  EXPECT_FALSE(f.Has("Sending")) << f.Console();
}

// An LPC2478 display with software before 6.00 has its file drive erased,
// so every file of its set is written afresh.
TEST(UpdateUnit, AnOldKd3HasItsFileDriveErasedFirst) {
  UpdateFixture f;
  f.Start(
      "[unit kd3]\ncard = 647\ncircuit = 1\nsoftware = 5.90r10\nmodbus = 2\nboot-loader = 4r18\n"
      "buffer-size = 128\nprogrammer-buffer-size = 8192\nfile = 1 0x0131 old configuration\n");
  ASSERT_EQ(f.Run([&] { EXPECT_TRUE(UpdateUnit(f.session, f.unit, false, false, false)); }), -1)
      << f.Console();
  EXPECT_TRUE(f.Has("Erasing files from old software version...\r\n"));
  const sim::SimUnit& kd3 = *f.network->connected();
  EXPECT_TRUE(f.FileOf(kd3, 1, 0x131).empty());
  EXPECT_EQ(f.FileOf(kd3, 1, 0x100).size(), 154387u);
  EXPECT_FALSE(f.FileOf(kd3, 1, 0x1CF).empty());
  EXPECT_FALSE(f.FileOf(kd3, 1, 0x1B3).empty());
}

}  // namespace
}  // namespace kel
