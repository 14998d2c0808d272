#include "files/check_values.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/file_checksums.h"
#include "tests/files_fixture.h"

namespace kel {
namespace {

TEST(CheckValues, KnownValues) {
  struct Case {
    std::string data;
    FileChecksums checksums;
    uint16_t crc;
    uint32_t fletcher;
  };
  const Case cases[] = {
      {"abc", {0x00636261, 0x00C6C4C2, 0, 0}, 0x4957, 0x25C5C462},
      {"", {0, 0, 0, 0}, 0xFFFF, 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.data.data());
    EXPECT_EQ(ComputeFileChecksums(bytes, c.data.size()), c.checksums) << c.data;
    EXPECT_EQ(FileCrcNumber(bytes, c.data.size()), c.crc) << c.data;
    EXPECT_EQ(FletcherChecksum(bytes, c.data.size()), c.fletcher) << c.data;
  }
}

// The unit's own sums (the simulator's code) over data long enough to fold
// the Fletcher sums many times and to fill several checksum blocks, of odd
// and even length.
TEST(CheckValues, AgreeWithTheUnitOverLongData) {
  for (size_t size : {255u, 718u, 719u, 5000u, 65537u}) {
    const std::vector<uint8_t> data = FilePattern(size, 0xF0);
    const sim::FileChecksums unit = sim::ComputeFileChecksums(data.data(), size);
    EXPECT_EQ(ComputeFileChecksums(data.data(), size),
              (FileChecksums{unit.checksum1, unit.checksum2, unit.checksum3, unit.checksum4}))
        << size;
    EXPECT_EQ(FletcherChecksum(data.data(), size), sim::Fletcher32(data.data(), size)) << size;
  }
}

TEST(CheckValues, TheCrcTravelsAsItemOneOfTheProperties) {
  struct Case {
    uint16_t crc;
    std::vector<uint8_t> block;
  };
  const Case cases[] = {
      {0x4957, {0x01, 0x42, 0x49, 0x57}},
      {0x00FE, {0x01, 0x31, 0xFE}},
      {0x0100, {0x01, 0x42, 0x01, 0x00}},
      {0, {}},  // not stored
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CrcProperties(c.crc), c.block) << c.crc;
    EXPECT_EQ(CrcFromProperties(c.block), c.crc) << c.crc;
  }
  // Read past an item before it, including one with a 12-bit length; a
  // block cut short or without item 1 gives 0.
  EXPECT_EQ(CrcFromProperties({0x00, 0x31, 0x07, 0x01, 0x42, 0x12, 0x34}), 0x1234u);
  EXPECT_EQ(CrcFromProperties({0x00, 0xE0, 0x02, 0xAA, 0xBB, 0x01, 0x31, 0x09}), 0x09u);
  EXPECT_EQ(CrcFromProperties({0x01, 0x42, 0x12}), 0u);
  EXPECT_EQ(CrcFromProperties({0x02, 0x31, 0x05}), 0u);
}

}  // namespace
}  // namespace kel
