#include "flash/record_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "flash/boot_tool_programmer.h"

namespace kel {
namespace {

// Builds containers byte by byte, independent of the reader under test.
class ImageBuilder {
 public:
  ImageBuilder(uint32_t start, uint32_t total) {
    Put32(start);
    Put32(total);
  }
  ImageBuilder& Record(uint32_t address, uint16_t length, uint8_t fill = 0x5A) {
    Put32(address);
    bytes_.push_back(static_cast<uint8_t>(length >> 8));
    bytes_.push_back(static_cast<uint8_t>(length));
    bytes_.insert(bytes_.end(), length, fill);
    return *this;
  }
  ImageBuilder& End() {
    Put32(0xFFFFFFFF);
    return *this;
  }
  ImageBuilder& Raw(std::vector<uint8_t> extra) {
    bytes_.insert(bytes_.end(), extra.begin(), extra.end());
    return *this;
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  void Put32(uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(static_cast<uint8_t>(v >> shift));
  }
  std::vector<uint8_t> bytes_;
};

bool Parses(const std::vector<uint8_t>& bytes) {
  RecordImage image;
  return image.Parse(bytes.data(), bytes.size());
}

TEST(RecordImageTest, ReadsHeaderAndRecordsInOrder) {
  ImageBuilder b(0x100002CD, 300);
  b.Record(0x10000000, 128, 0x11).Record(0x10000080, 172, 0x22).End();
  RecordImage image;
  ASSERT_TRUE(image.Parse(b.bytes().data(), b.bytes().size()));
  EXPECT_EQ(image.startAddress(), 0x100002CDu);
  EXPECT_EQ(image.totalLength(), 300u);
  EXPECT_EQ(image.payloadBytes(), 300u);
  ASSERT_EQ(image.records().size(), 2u);
  EXPECT_EQ(image.records()[0].address, 0x10000000u);
  EXPECT_EQ(image.records()[0].length, 128);
  EXPECT_EQ(image.records()[0].data, b.bytes().data() + 14);
  EXPECT_EQ(image.records()[1].address, 0x10000080u);
  EXPECT_EQ(image.records()[1].length, 172);
  EXPECT_EQ(image.records()[1].data[0], 0x22);
}

TEST(RecordImageTest, FirstAddressMarkerMeansNoRecords) {
  ImageBuilder b(0, 0);
  b.End();
  RecordImage image;
  ASSERT_TRUE(image.Parse(b.bytes().data(), b.bytes().size()));
  EXPECT_TRUE(image.records().empty());
  EXPECT_EQ(image.payloadBytes(), 0u);
}

TEST(RecordImageTest, RecordLengthLimitIs16384) {
  EXPECT_TRUE(Parses(ImageBuilder(0, 16384).Record(0x4000, 16384).End().bytes()));
  EXPECT_FALSE(Parses(ImageBuilder(0, 16385).Record(0x4000, 16385).End().bytes()));
  EXPECT_FALSE(Parses(ImageBuilder(0, 0).Record(0x4000, 0).End().bytes()));
}

TEST(RecordImageTest, RejectsEveryTruncation) {
  ImageBuilder b(0x40000200, 200);
  b.Record(0x40000000, 100).Record(0x40000064, 100).End();
  const std::vector<uint8_t>& full = b.bytes();
  ASSERT_TRUE(Parses(full));
  // Each prefix ends inside the header, a record header, record data or
  // the marker; none may parse.
  for (size_t size = 0; size < full.size(); ++size) {
    std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(size));
    EXPECT_FALSE(Parses(cut)) << "prefix of " << size << " bytes";
  }
}

TEST(RecordImageTest, RejectsHostileContainers) {
  // A length far past the end of the data.
  EXPECT_FALSE(Parses(ImageBuilder(0, 0).Raw({0, 0, 0x40, 0, 0x10, 0x00, 1, 2, 3}).bytes()));
  // Records but no end marker, and the last bytes only look like part of one.
  EXPECT_FALSE(Parses(ImageBuilder(0, 4).Record(0x4000, 4).bytes()));
  EXPECT_FALSE(Parses(ImageBuilder(0, 4).Record(0x4000, 4).Raw({0xFF, 0xFF, 0xFF}).bytes()));
  // A record that wraps past the top of the address space.
  EXPECT_FALSE(Parses(ImageBuilder(0, 512).Record(0xFFFFFF00, 512).End().bytes()));
  EXPECT_TRUE(Parses(ImageBuilder(0, 255).Record(0xFFFFFF00, 255).End().bytes()));
  // Bytes after the marker.
  EXPECT_FALSE(Parses(ImageBuilder(0, 4).Record(0x4000, 4).End().Raw({0}).bytes()));
  EXPECT_FALSE(Parses({}));
  RecordImage image;
  EXPECT_FALSE(image.Parse(nullptr, 100));
}

TEST(RecordImageTest, FailedParseLeavesImageEmpty) {
  RecordImage image;
  const auto good = ImageBuilder(7, 4).Record(0x4000, 4).End().bytes();
  ASSERT_TRUE(image.Parse(good.data(), good.size()));
  const auto bad = ImageBuilder(7, 4).Record(0x4000, 4).bytes();
  EXPECT_FALSE(image.Parse(bad.data(), bad.size()));
  EXPECT_FALSE(image.valid());
  EXPECT_TRUE(image.records().empty());
  EXPECT_EQ(image.startAddress(), 0u);
}

class BootToolProgrammerTest : public ::testing::Test {
 protected:
  long Load(const std::vector<uint8_t>& bytes) {
    std::memcpy(programmer_.buffer(), bytes.data(), bytes.size());
    return static_cast<long>(bytes.size());
  }
  BootToolProgrammer programmer_;
};

TEST_F(BootToolProgrammerTest, AcceptsWellFormedProgrammer) {
  const long count = Load(
      ImageBuilder(0x100002CD, 256).Record(0x10000000, 128).Record(0x10000080, 128).End().bytes());
  const ImageRef* ref = programmer_.Accept(count);
  ASSERT_NE(ref, nullptr);
  EXPECT_EQ(ref->bytes, programmer_.buffer());
  EXPECT_EQ(ref->size, static_cast<uint32_t>(count));
}

TEST_F(BootToolProgrammerTest, RefusesWhatMustNotBeDownloaded) {
  EXPECT_EQ(programmer_.capacity(), 1000001u);
  EXPECT_EQ(programmer_.Accept(-1), nullptr);  // read error
  EXPECT_EQ(programmer_.Accept(0), nullptr);   // empty file
  EXPECT_EQ(programmer_.Accept(Load(ImageBuilder(0x100002CD, 0).End().bytes())), nullptr);
  EXPECT_EQ(programmer_.Accept(Load(ImageBuilder(0, 4).Record(0x10000000, 4).bytes())), nullptr);
  // A file that filled the buffer may have been cut short.
  EXPECT_EQ(programmer_.Accept(static_cast<long>(programmer_.capacity())), nullptr);
  EXPECT_EQ(programmer_.Accept(static_cast<long>(programmer_.capacity()) + 5), nullptr);
}

}  // namespace
}  // namespace kel
