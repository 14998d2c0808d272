#include "sim/flash_memory.h"

#include <gtest/gtest.h>

#include "sim/file_store.h"

namespace kel::sim {
namespace {

TEST(SimFlashMemory, ErasedUntilWrittenAcrossPages) {
  FlashMemory flash;
  EXPECT_TRUE(flash.IsBlank());
  EXPECT_EQ(flash.ReadByte(0x1234), 0xFF);
  const std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6};
  flash.Write(0x0FFD, data);  // crosses a 4 KiB page boundary
  EXPECT_EQ(flash.Read(0x0FFC, 8), (std::vector<uint8_t>{0xFF, 1, 2, 3, 4, 5, 6, 0xFF}));
  EXPECT_TRUE(flash.HasData(0x1000, 0x1000));
  EXPECT_FALSE(flash.HasData(0x1003, 0x2000));

  flash.Erase(0x0FFE, 0x0FFF);
  EXPECT_EQ(flash.Read(0x0FFD, 4), (std::vector<uint8_t>{1, 0xFF, 0xFF, 4}));
  flash.Erase(0, 0xFFFFFFFF);
  EXPECT_TRUE(flash.IsBlank());
}

TEST(SimFlashMemory, TopOfAddressSpaceIsSafe) {
  FlashMemory flash;
  flash.Write(0xFFFFFFFE, std::vector<uint8_t>{7, 8, 9, 10});
  EXPECT_EQ(flash.Read(0xFFFFFFFE, 4), (std::vector<uint8_t>{7, 8, 0xFF, 0xFF}));
  EXPECT_TRUE(flash.HasData(0xFFFFFFFF, 0xFFFFFFFF));
  flash.Erase(0xFFFFFFF0, 0xFFFFFFFF);
  EXPECT_TRUE(flash.IsBlank());
}

TEST(SimFlashMemory, RegionsAndSectorsPerMcu) {
  FlashRange r;
  ASSERT_TRUE(FlashMemory::BackupRegion(5, r));
  EXPECT_EQ(r.first, 0x300u);
  EXPECT_EQ(r.last, 0x3FFu);
  ASSERT_TRUE(FlashMemory::BackupRegion(6, r));
  EXPECT_EQ(r.first, 0x1A000400u);
  EXPECT_EQ(r.last, 0x1A0005FFu);
  EXPECT_FALSE(FlashMemory::BackupRegion(2, r));

  EXPECT_EQ(FlashMemory::SectorOf(5, 0x350).last, 0xFFFu);
  EXPECT_EQ(FlashMemory::SectorOf(5, 0x12345).first, 0x10000u);
  EXPECT_EQ(FlashMemory::SectorOf(6, 0x1B001234).first, 0x1B000000u);
  EXPECT_EQ(FlashMemory::SectorOf(6, 0x1B001234).last, 0x1B001FFFu);
  EXPECT_TRUE(FlashMemory::InFlash(6, 0x1B075BFF));
  EXPECT_FALSE(FlashMemory::InFlash(6, 0x1A080000));
  EXPECT_FALSE(FlashMemory::InFlash(5, 0x80000));
}

TEST(SimFileStore, FilesByDriveWithLimits) {
  FileStore store;
  EXPECT_TRUE(store.HasDrive(1) && store.HasDrive(177) && store.HasDrive(193));
  EXPECT_FALSE(store.Create(2, 1));
  ASSERT_TRUE(store.Create(1, 0x1E0));
  const uint8_t bytes[] = {9, 8, 7};
  ASSERT_TRUE(store.WriteAt(1, 0x1E0, 5, bytes, 3));
  EXPECT_EQ(store.ReadAt(1, 0x1E0, 0, 100), (std::vector<uint8_t>{0, 0, 0, 0, 0, 9, 8, 7}));
  EXPECT_TRUE(store.ReadAt(1, 0x1E0, 8, 10).empty());
  EXPECT_TRUE(store.ReadAt(1, 0x1E0, 0xFFFFFFFF, 10).empty());
  EXPECT_FALSE(store.WriteAt(1, 0x1E0, 0xFFFFFFFF, bytes, 3));
  EXPECT_FALSE(store.WriteAt(1, 0x1E0, FileStore::kMaxFileSize, bytes, 1));
  EXPECT_FALSE(store.WriteAt(1, 0x1E1, 0, bytes, 1));  // no such file

  ASSERT_TRUE(store.SetProperties(1, 0x1E0, {0x01, 0x31, 0x05}));
  ASSERT_TRUE(store.Create(1, 0x1E0));  // replacing drops data and properties
  SimFileAttributes attributes;
  ASSERT_TRUE(store.Attributes(1, 0x1E0, attributes));
  EXPECT_EQ(attributes.size, 0u);
  EXPECT_TRUE(attributes.properties.empty());
  store.EraseDrive(1);
  EXPECT_FALSE(store.Attributes(1, 0x1E0, attributes));
}

}  // namespace
}  // namespace kel::sim
