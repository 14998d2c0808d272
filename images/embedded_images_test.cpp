// Checks the images and unit files the build embeds: whatever files are in
// place (stand-ins or real ones) must have the layout the program relies on.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "flash/image_catalogue.h"
#include "flash/record_image.h"
#include "flash/unit_files.h"
#include "images/embedded_blobs.h"

namespace kel {
namespace {

// Both check values exactly as a unit computes them, written independently
// of the generator: the zlib CRC-32 and the Modbus CRC-16 register.
class CheckValues {
 public:
  CheckValues() {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c32 = n, c16 = n;
      for (int k = 0; k < 8; ++k) {
        c32 = (c32 & 1) ? (c32 >> 1) ^ 0xEDB88320u : c32 >> 1;
        c16 = (c16 & 1) ? (c16 >> 1) ^ 0xA001u : c16 >> 1;
      }
      table32_[n] = c32;
      table16_[n] = static_cast<uint16_t>(c16);
    }
  }
  void Add(uint8_t byte) {
    crc32_ = (crc32_ >> 8) ^ table32_[(crc32_ ^ byte) & 0xFF];
    crc16_ = static_cast<uint16_t>((crc16_ >> 8) ^ table16_[(crc16_ ^ byte) & 0xFF]);
  }
  uint32_t checksum() const { return crc32_ ^ 0xFFFFFFFFu; }
  uint16_t crc() const { return crc16_; }

 private:
  std::array<uint32_t, 256> table32_{};
  std::array<uint16_t, 256> table16_{};
  uint32_t crc32_ = 0xFFFFFFFFu;
  uint16_t crc16_ = 0xFFFF;
};

struct Region {
  uint32_t first;
  uint32_t last;  // inclusive
};

// The checksum regions: per flash bank (address bits 24..31), from the
// bank's first record to the end of its last record.
std::vector<Region> Regions(const RecordImage& image) {
  std::map<uint32_t, Region> banks;
  for (const ImageRecord& r : image.records()) {
    const uint32_t last = r.address + r.length - 1;
    auto [it, fresh] = banks.try_emplace(r.address >> 24, Region{r.address, last});
    if (!fresh) {
      it->second.first = std::min(it->second.first, r.address);
      it->second.last = std::max(it->second.last, last);
    }
  }
  std::vector<Region> regions;
  for (const auto& [bank, region] : banks) regions.push_back(region);
  return regions;
}

RecordImage Parsed(const ImageRef& ref) {
  RecordImage image;
  EXPECT_TRUE(image.Parse(ref.bytes, ref.size)) << ref.name;
  return image;
}

size_t MaxRecord(const RecordImage& image) {
  size_t longest = 0;
  for (const ImageRecord& r : image.records()) longest = std::max<size_t>(longest, r.length);
  return longest;
}

// Every catalogue image parses exactly to its size, ends with the marker,
// and states its payload as the total length.
TEST(EmbeddedImagesTest, EveryCatalogueImageIsAWellFormedContainer) {
  std::vector<const char*> names;
  for (const auto& e : ProgrammerTable()) names.push_back(e.image);
  for (const auto& e : StringsProgrammerTable()) names.push_back(e.image);
  for (const auto& e : BootLoaderTable()) names.push_back(e.image);
  for (const auto& e : SoftwareTable()) names.push_back(e.image);
  // 28 LPC programmers (14 rows, normal and large), two H8S2145
  // programmers, two strings programmers, 7 boot loaders, 7 software images.
  EXPECT_EQ(names.size(), 32u + 7u + 7u);
  for (const char* name : names) {
    SCOPED_TRACE(name);
    const ImageRef* ref = CatalogueImage(name);
    ASSERT_NE(ref, nullptr);
    ASSERT_GE(ref->size, 12u);
    EXPECT_EQ(ref->bytes[ref->size - 4] & ref->bytes[ref->size - 3] & ref->bytes[ref->size - 2] &
                  ref->bytes[ref->size - 1],
              0xFF);
    RecordImage image = Parsed(*ref);
    ASSERT_FALSE(image.records().empty());
    EXPECT_EQ(image.totalLength(), image.payloadBytes());
  }
}

TEST(EmbeddedImagesTest, RecordSizesFollowTheTransferClass) {
  for (const auto& e : ProgrammerTable()) {
    SCOPED_TRACE(e.image);
    RecordImage image = Parsed(*CatalogueImage(e.image));
    if (e.large) {
      EXPECT_GT(MaxRecord(image), 128u);
      EXPECT_LE(MaxRecord(image), 8192u);
    } else {
      EXPECT_LE(MaxRecord(image), 128u);
    }
  }
  for (const auto& e : StringsProgrammerTable()) {
    EXPECT_LE(MaxRecord(Parsed(*CatalogueImage(e.image))), 128u);
  }
  for (const auto& e : SoftwareTable())
    EXPECT_LE(MaxRecord(Parsed(*CatalogueImage(e.image))), 8192u);
  for (const auto& e : BootLoaderTable())
    EXPECT_LE(MaxRecord(Parsed(*CatalogueImage(e.image))), 8192u);
}

// The boot loaders leave the backup region out and end at offset 0x3DFF,
// so the write-back of the backup fields and the erase rule hold.
TEST(EmbeddedImagesTest, BootLoadersLeaveTheBackupRegionOut) {
  for (const auto& e : BootLoaderTable()) {
    SCOPED_TRACE(e.image);
    const bool twoBank = e.mcuType == mcuLPC4337 || e.mcuType == mcuLPC4357;
    const uint32_t base = twoBank ? 0x1A000000 : 0;
    const Region backup = twoBank ? Region{0x1A000400, 0x1A0005FF} : Region{0x300, 0x3FF};
    RecordImage image = Parsed(*CatalogueImage(e.image));
    EXPECT_EQ(image.records().front().address, base);
    const ImageRecord& last = image.records().back();
    EXPECT_EQ(last.address + last.length - 1, base + 0x3DFF);
    for (const ImageRecord& r : image.records()) {
      const uint32_t end = r.address + r.length - 1;
      EXPECT_TRUE(end < backup.first || r.address > backup.last) << std::hex << r.address;
    }
  }
  RecordImage kt3 = Parsed(*CatalogueImage("boot_kt3_lpc1768"));
  ASSERT_EQ(kt3.records().size(), 4u);
  EXPECT_EQ(kt3.records()[0].length, 768);
  EXPECT_EQ(kt3.records()[1].address, 0x400u);
  EXPECT_EQ(kt3.records()[2].address, 0x2400u);
  EXPECT_EQ(kt3.records()[3].address, 0x3D00u);
}

// A unit running the embedded software reports exactly the catalogue's
// checksum and CRC, computed over its regions with gaps read as 0xFF.
TEST(EmbeddedImagesTest, SoftwareCheckValuesMatchTheCatalogue) {
  for (const auto& e : SoftwareTable()) {
    SCOPED_TRACE(e.image);
    const ImageRef* ref = CatalogueImage(e.image);
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(ref->checksum, e.checksum);
    EXPECT_EQ(ref->crc, e.crc);
    RecordImage image = Parsed(*ref);
    CheckValues check;
    for (const Region& region : Regions(image)) {
      std::vector<uint8_t> flash(uint64_t{region.last} - region.first + 1, 0xFF);
      for (const ImageRecord& r : image.records()) {
        if (r.address >= region.first && r.address <= region.last) {
          std::copy(r.data, r.data + r.length, flash.begin() + (r.address - region.first));
        }
      }
      for (uint8_t byte : flash) check.Add(byte);
    }
    EXPECT_EQ(check.checksum(), e.checksum);
    EXPECT_EQ(check.crc(), e.crc);
  }
}

TEST(EmbeddedImagesTest, SoftwareAddressRanges) {
  RecordImage kt3 = Parsed(*CatalogueImage("soft_kt3_lpc1768"));
  std::vector<Region> regions = Regions(kt3);
  ASSERT_EQ(regions.size(), 1u);
  EXPECT_EQ(regions[0].first, 0x4000u);
  EXPECT_EQ(regions[0].last, 0x756FFu);

  RecordImage kd4 = Parsed(*CatalogueImage("soft_kd4_lpc4337"));
  regions = Regions(kd4);
  ASSERT_EQ(regions.size(), 2u);
  EXPECT_EQ(regions[0].first, 0x1A004000u);
  EXPECT_EQ(regions[1].first, 0x1B000000u);
  EXPECT_EQ(regions[1].last, 0x1B075BFFu);

  for (const auto& e : SoftwareTable()) {
    const bool twoBank = e.mcuType == mcuLPC4337 || e.mcuType == mcuLPC4357;
    EXPECT_EQ(Parsed(*CatalogueImage(e.image)).records().front().address,
              twoBank ? 0x1A004000u : 0x4000u)
        << e.image;
  }
}

TEST(EmbeddedImagesTest, UnitFileSetsByCard) {
  const uint16_t languageNumbers[] = {0x1E0, 0x1E1, 0x1E2, 0x1E3, 0x1E5, 0x1E6, 0x1EA};
  const UnitFileSet kt3 = UnitFilesForCard(648, mcuLPC1768);
  const UnitFileSet kt5 = UnitFilesForCard(659, mcuLPC4337);
  const UnitFileSet kd3 = UnitFilesForCard(647, mcuLPC4357);
  const UnitFileSet kd3Old = UnitFilesForCard(647, mcuLPC2478);
  const UnitFileSet kd4 = UnitFilesForCard(653, mcuLPC4337);
  for (const UnitFileSet* set : {&kt3, &kt5, &kd3, &kd3Old, &kd4}) {
    ASSERT_EQ(set->languageFiles.size(), 7u);
    for (size_t i = 0; i < 7; ++i) {
      const UnitFile& f = set->languageFiles[i];
      EXPECT_EQ(f.fileNumber, languageNumbers[i]);
      EXPECT_EQ(f.drive, 1);
      ASSERT_GE(f.size, 2u) << f.name;
      EXPECT_EQ(f.data[0], 0x53);
      EXPECT_EQ(f.data[1], 0x54);
    }
  }
  EXPECT_TRUE(kt3.imageFiles.empty() && kt3.fontFiles.empty() && kt3.fieldbusFiles.empty());
  EXPECT_NE(kd3.languageFiles.data(), kd3Old.languageFiles.data());
  EXPECT_NE(kt3.languageFiles.data(), kt5.languageFiles.data());
  EXPECT_FALSE(kd3.resourceFile);
  EXPECT_TRUE(kd4.resourceFile);

  ASSERT_EQ(kd3.imageFiles.size(), 1u);
  EXPECT_EQ(kd3.imageFiles[0].fileNumber, 0x100);
  EXPECT_EQ(kd3.imageFiles[0].size, 154387u);
  ASSERT_EQ(kd4.imageFiles.size(), 1u);
  EXPECT_EQ(kd4.imageFiles[0].size, 112461u);

  ASSERT_EQ(kd3.fontFiles.size(), 16u);
  ASSERT_EQ(kd4.fontFiles.size(), 17u);
  EXPECT_EQ(kd3.fontFiles[0].size, 3583u);
  EXPECT_EQ(kd3.fontFiles[15].fileNumber, 0x1CF);
  EXPECT_EQ(kd4.fontFiles[16].fileNumber, 0x1D0);
  for (const UnitFileSet* set : {&kd3, &kd4}) {
    for (const UnitFile& f : set->fontFiles) {
      ASSERT_GE(f.size, 3u) << f.name;
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(f.data), 3), "fo$") << f.name;
    }
    ASSERT_EQ(set->fieldbusFiles.size(), 4u);
    const uint32_t sizes[] = {62261, 11889, 16436, 8541};
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(set->fieldbusFiles[i].fileNumber, 0x1B0 + i);
      EXPECT_EQ(set->fieldbusFiles[i].size, sizes[i]);
    }
  }
  EXPECT_TRUE(UnitFilesForCard(650, mcuLPC1768).empty());
  EXPECT_TRUE(UnitFilesForCard(0, mcuUnknown).empty());
}

// The KD4 resource file (image and fonts, each with 8 bytes of framing,
// then two end bytes) must fit its 4 MiB build buffer.
TEST(EmbeddedImagesTest, Kd4ResourceFileFitsItsBuffer) {
  const UnitFileSet kd4 = UnitFilesForCard(653, mcuLPC4337);
  uint64_t bytes = 2;
  for (const UnitFile& f : kd4.imageFiles) bytes += f.size + 8;
  for (const UnitFile& f : kd4.fontFiles) bytes += f.size + 8;
  EXPECT_LE(bytes, 4194304u);
}

TEST(EmbeddedImagesTest, BlobLookup) {
  EXPECT_EQ(FindEmbeddedBlob("no_such_file"), nullptr);
  EXPECT_EQ(CatalogueImage("no_such_file"), nullptr);
  const EmbeddedBlob* blob = FindEmbeddedBlob("fieldbus_01b3");
  ASSERT_NE(blob, nullptr);
  EXPECT_EQ(blob->size(), 8541u);
}

}  // namespace
}  // namespace kel
