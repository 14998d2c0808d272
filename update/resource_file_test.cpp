#include "update/resource_file.h"

#include <gtest/gtest.h>

#include "link/packet_layer.h"
#include "tests/runtime_fixture.h"

namespace kel {
namespace {

TEST(ResourceFile, RecordsCarryNumberSizeDataAndCrcThenTwoZeroBytes) {
  RuntimeFixture f;
  f.options.debug = true;
  const uint8_t image[] = {1, 2, 3};
  const uint8_t font[] = {0x66, 0x6F, 0x24, 9};
  const UnitFile images[] = {{"i", 1, 0x100, image, sizeof image}};
  const UnitFile fonts[] = {{"f", 1, 0x1C0, font, sizeof font}};
  std::vector<uint8_t> list;
  ASSERT_TRUE(BuildResourceList(f.out, images, fonts, list));
  const uint16_t imageCrc = Crc16OfBuffer(image, sizeof image);  // wire order, big-endian
  const uint16_t fontCrc = Crc16OfBuffer(font, sizeof font);
  const std::vector<uint8_t> expected = {
      0x01, 0x00, 0, 0, 0, 3,    1,    2,    3, uint8_t(imageCrc >> 8), uint8_t(imageCrc), 0x01,
      0xC0, 0,    0, 0, 4, 0x66, 0x6F, 0x24, 9, uint8_t(fontCrc >> 8),  uint8_t(fontCrc),  0,
      0};
  EXPECT_EQ(list, expected);
  EXPECT_NE(f.console.output().find("-- font file: $01C0(4)"), std::string::npos);

  // A list that fills its room exactly has no end marker; one more byte
  // of font does not fit.
  ASSERT_TRUE(BuildResourceList(f.out, images, fonts, list, 23));
  EXPECT_EQ(list.size(), 23u);
  EXPECT_FALSE(BuildResourceList(f.out, images, fonts, list, 22));

  InvertBytes(list);
  EXPECT_EQ(list[0], 0xFE);
}

}  // namespace
}  // namespace kel
