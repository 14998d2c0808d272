#include "sim/update_files.h"

#include <gtest/gtest.h>

#include "images/embedded_blobs.h"

#include "sim/boot_region.h"
#include "sim/crc16.h"
#include "sim/file_checksums.h"
#include "sim/sim_unit.h"
#include "sim/sim_test_support.h"
#include "sim/software_checksum.h"
#include "tests/sim_flash_support.h"

namespace kel::sim {
namespace {

using testing::BuildRecordImage;
using testing::Pattern;
using testing::WithCrc;

SimUnit UpdatableUnit() {
  SimUnit unit;
  unit.cardNumber = 648;  // KT3 transmitter on an LPC1768
  unit.mcuType = 5;
  unit.softwareVersion = 605;
  unit.softwareRelease = 3;
  unit.bootLoaderRelease = 14;
  unit.unitFlags = 0x01;
  unit.bootFlags = 0x80;
  return unit;
}

std::vector<uint8_t> WithFletcher(std::vector<uint8_t> data) {
  const uint32_t sum = Fletcher32(data.data(), data.size());
  for (int shift = 24; shift >= 0; shift -= 8) data.push_back(static_cast<uint8_t>(sum >> shift));
  return data;
}

TEST(SimUpdateFiles, SoftwareWithGoodChecksumIsAppliedAndBadIsNot) {
  const std::vector<uint8_t> code = Pattern(2000, 1);
  const std::vector<uint8_t> image = BuildRecordImage(0, {{0x4000, code}});

  SimUnit bad = UpdatableUnit();
  std::vector<uint8_t> corrupt = WithFletcher(image);
  corrupt[20] ^= 0x01;
  bad.files.Put(1, kSoftwareUpdateFile, corrupt);
  ApplyPendingUpdates(bad);
  EXPECT_TRUE(bad.flash.IsBlank());
  EXPECT_EQ(bad.files.Find(1, kSoftwareUpdateFile), nullptr);  // consumed all the same

  SimUnit good = UpdatableUnit();
  good.flash.Write(0x5000, Pattern(100, 2));  // old software beyond the new one is erased
  good.files.Put(1, kSoftwareUpdateFile, WithFletcher(image));
  const SoftwareCheck before = ReportedSoftwareCheck(good);
  ApplyPendingUpdates(good);
  EXPECT_EQ(good.flash.Read(0x4000, code.size()), code);
  EXPECT_FALSE(good.flash.HasData(0x4000 + 2000, 0x7FFFF));
  EXPECT_NE(ReportedSoftwareCheck(good).checksum, before.checksum);
  // Software the unit cannot identify keeps the version it had.
  EXPECT_EQ(good.softwareVersion, 605);
}

// The software images the program carries identify themselves by their check
// values: once applied, the unit reports 6.10r57 and the catalogue's values.
TEST(SimUpdateFiles, EmbeddedSoftwareIsReportedAsTheNewVersion) {
  struct Case {
    const char* software;
    const char* bootLoader;
    uint16_t card;
    uint8_t mcu;
    uint32_t checksum;
    uint16_t crc;
  };
  for (const Case& c : {Case{"soft_kt3_lpc1768", "boot_kt3_lpc1768", 648, 5, 0xAA30E654, 0x5F8A},
                        Case{"soft_kd4_lpc4337", "boot_kd4_lpc4337", 653, 6, 0x1CD6C5F0, 0x26D1}}) {
    SCOPED_TRACE(c.software);
    const EmbeddedBlob* software = FindEmbeddedBlob(c.software);
    const EmbeddedBlob* bootLoader = FindEmbeddedBlob(c.bootLoader);
    ASSERT_NE(software, nullptr);
    ASSERT_NE(bootLoader, nullptr);
    SimUnit unit = UpdatableUnit();
    unit.cardNumber = c.card;
    unit.mcuType = c.mcu;
    unit.files.Put(1, kSoftwareUpdateFile, WithFletcher({software->data(), software->data() + software->size()}));
    unit.files.Put(1, kBootLoaderUpdateFile,
                   WithFletcher({bootLoader->data(), bootLoader->data() + bootLoader->size()}));
    ApplyPendingUpdates(unit);
    EXPECT_EQ(unit.softwareVersion, 610);
    EXPECT_EQ(unit.softwareRelease, 57);
    EXPECT_EQ(unit.bootLoaderRelease, 24);  // the embedded boot loaders' trailer
    const SoftwareCheck check = ReportedSoftwareCheck(unit);
    EXPECT_EQ(check.checksum, c.checksum);
    EXPECT_EQ(check.crc, c.crc);
  }
}

TEST(SimUpdateFiles, BootLoaderUpdateKeepsTheBackupFields) {
  SimUnit unit = UpdatableUnit();
  const std::vector<uint8_t> backup = Pattern(256, 3);
  unit.flash.Write(0x300, backup);
  const EmbeddedBlob* image = FindEmbeddedBlob("boot_kt3_lpc1768");
  ASSERT_NE(image, nullptr);
  unit.files.Put(1, kBootLoaderUpdateFile, WithFletcher({image->data(), image->data() + image->size()}));
  ApplyPendingUpdates(unit);
  EXPECT_EQ(unit.flash.Read(0x300, 256), backup);
  EXPECT_EQ(ReadBootRegion(unit).state, BootRegionState::kWhole);
  EXPECT_EQ(unit.bootLoaderRelease, 24);
  EXPECT_EQ(unit.bootFlags & 0x80, 0);
}

// The unit's updater checks what it would leave: a boot-loader image without
// a whole trailer is not put in, and the old boot loader stays.
TEST(SimUpdateFiles, BootLoaderThatWouldNotStartIsNotPutIn) {
  SimUnit unit = UpdatableUnit();
  const std::vector<uint8_t> low = Pattern(768, 4), high = Pattern(3000, 5);
  unit.files.Put(1, kBootLoaderUpdateFile, WithFletcher(BuildRecordImage(0, {{0, low}, {0x400, high}})));
  ApplyPendingUpdates(unit);
  EXPECT_FALSE(unit.flash.HasData(0, 0x3FFF));
  EXPECT_EQ(ReadBootRegion(unit).state, BootRegionState::kScenario);
  EXPECT_EQ(unit.bootLoaderRelease, 14);
  EXPECT_EQ(unit.files.Find(1, kBootLoaderUpdateFile), nullptr);  // consumed all the same
}

TEST(SimUpdateFiles, MisplacedOrMalformedImagesAreRefused) {
  SimUnit unit = UpdatableUnit();
  // A "boot loader" that reaches into the software area, a software image in
  // the boot area, a truncated container.
  unit.files.Put(1, kBootLoaderUpdateFile, WithFletcher(BuildRecordImage(0, {{0x3F00, Pattern(512, 1)}})));
  unit.files.Put(1, kSoftwareUpdateFile, WithFletcher(BuildRecordImage(0, {{0x100, Pattern(16, 1)}})));
  ApplyPendingUpdates(unit);
  EXPECT_TRUE(unit.flash.IsBlank());
  EXPECT_EQ(unit.bootLoaderRelease, 14);

  std::vector<uint8_t> truncated = BuildRecordImage(0, {{0x4000, Pattern(64, 1)}});
  truncated.erase(truncated.end() - 6, truncated.end());
  unit.files.Put(1, kSoftwareUpdateFile, WithFletcher(truncated));
  ApplyPendingUpdates(unit);
  EXPECT_TRUE(unit.flash.IsBlank());

  std::vector<ImageRecord> records;
  const std::vector<uint8_t> overlong = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0, 0xFF, 0xFF, 1, 2};
  EXPECT_FALSE(ParseRecordImage(overlong.data(), overlong.size(), records));
  const std::vector<uint8_t> none = {0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_TRUE(ParseRecordImage(none.data(), none.size(), records));
  EXPECT_TRUE(records.empty());
}

TEST(SimUpdateFiles, ResourceAndProgrammerFiles) {
  SimUnit unit = UpdatableUnit();
  unit.cardNumber = 653;
  unit.mcuType = 6;
  // Resource list: one record with its CRC, then two zero bytes.
  const std::vector<uint8_t> font = Pattern(40, 6);
  PayloadWriter list;
  const uint16_t crc = ModbusCrc16(font.data(), font.size());
  list.U16(0x1C0).U32(40).Bytes(font).U8(crc & 0xFF).U8(crc >> 8).U16(0);
  const std::vector<uint8_t> plain = list.Take();
  unit.files.Put(1, kResourceUpdateFile, plain);
  unit.files.Put(kProgrammerDrive, kProgrammerFile, WithCrc(BuildRecordImage(0x10080315, {{0x10080000, Pattern(64, 7)}})));
  ApplyPendingUpdates(unit);
  const SimFile* resource = unit.files.Find(kResourceDrive, kResourceFile);
  ASSERT_NE(resource, nullptr);
  ASSERT_EQ(resource->data.size(), plain.size());
  for (size_t i = 0; i < plain.size(); ++i) ASSERT_EQ(resource->data[i], static_cast<uint8_t>(~plain[i]));
  EXPECT_NE(unit.files.Find(kProgrammerDrive, kProgrammerFile), nullptr);

  // A bad record CRC or a bad programmer CRC: nothing is taken over.
  std::vector<uint8_t> broken = plain;
  broken[10] ^= 0xFF;
  unit.files.Put(1, kResourceUpdateFile, broken);
  std::vector<uint8_t> programmer = WithCrc(BuildRecordImage(0x10080315, {{0x10080000, Pattern(64, 7)}}));
  programmer.back() ^= 0x01;
  unit.files.Put(kProgrammerDrive, kProgrammerFile, programmer);
  ApplyPendingUpdates(unit);
  EXPECT_EQ(unit.files.Find(kResourceDrive, kResourceFile)->data, resource->data);
  EXPECT_EQ(unit.files.Find(kProgrammerDrive, kProgrammerFile), nullptr);
}

TEST(SimUpdateFiles, UnitsThatDoNotAcceptUpdateFilesLeaveThemAlone) {
  SimUnit unit = UpdatableUnit();
  unit.unitFlags = 0;
  unit.files.Put(1, kSoftwareUpdateFile, WithFletcher(BuildRecordImage(0, {{0x4000, Pattern(16, 1)}})));
  ApplyPendingUpdates(unit);
  EXPECT_TRUE(unit.flash.IsBlank());
  EXPECT_NE(unit.files.Find(1, kSoftwareUpdateFile), nullptr);
}

TEST(SimUpdateFiles, DirectProgrammingChangesWhatTheUnitReports) {
  SimUnit unit = UpdatableUnit();
  unit.bootFlags = 0x04;  // flash check failed
  unit.flash.Write(0x4000, Pattern(32, 1));
  unit.flash.softwareWritten = true;
  ApplyPendingUpdates(unit);
  EXPECT_EQ(unit.bootFlags, 0);
  EXPECT_FALSE(unit.flash.softwareWritten);
  // Software erased and never rewritten: the boot loader reports no software.
  unit.flash.EraseAll();
  unit.flash.softwareWritten = true;
  ApplyPendingUpdates(unit);
  EXPECT_EQ(unit.bootFlags & 0x01, 0x01);
}

}  // namespace
}  // namespace kel::sim
