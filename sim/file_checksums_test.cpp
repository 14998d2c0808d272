#include "sim/file_checksums.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kel::sim {
namespace {

TEST(SimFileChecksums, KnownValuesForAbcAndEmpty) {
  const std::string abc = "abc";
  const auto* p = reinterpret_cast<const uint8_t*>(abc.data());
  const FileChecksums sums = ComputeFileChecksums(p, abc.size());
  EXPECT_EQ(sums.checksum1, 0x00636261u);
  EXPECT_EQ(sums.checksum2, 0x00C6C4C2u);
  EXPECT_EQ(sums.checksum3, 0u);
  EXPECT_EQ(sums.checksum4, 0u);
  EXPECT_EQ(Fletcher32(p, abc.size()), 0x25C5C462u);

  const FileChecksums empty = ComputeFileChecksums(nullptr, 0);
  EXPECT_EQ(empty.checksum1 | empty.checksum2 | empty.checksum3 | empty.checksum4, 0u);

  const std::string check = "123456789";
  EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xCBF43926u);
}

TEST(SimFileChecksums, EveryWordPositionCountsAndPaddingIsZero) {
  // A byte in the second block and one in an odd word must both show.
  std::vector<uint8_t> data(300, 0);
  const FileChecksums zero = ComputeFileChecksums(data.data(), data.size());
  data[260] = 1;  // block 1, word 1 (odd: checksum4 and checksum3)
  const FileChecksums changed = ComputeFileChecksums(data.data(), data.size());
  EXPECT_EQ(zero.checksum4, 0u);
  EXPECT_EQ(changed.checksum4, 1u);
  EXPECT_NE(changed.checksum3, zero.checksum3);
  // Trailing zero bytes inside the last block do not change the sums.
  std::vector<uint8_t> padded = data;
  padded.resize(400, 0);
  const FileChecksums same = ComputeFileChecksums(padded.data(), padded.size());
  EXPECT_EQ(same.checksum1, changed.checksum1);
  EXPECT_EQ(same.checksum3, changed.checksum3);
}

TEST(SimFileChecksums, FletcherFoldsLongInputsWithoutOverflow) {
  // 0xFF bytes drive the sums up fastest; folding every 718 bytes keeps them
  // within 32 bits, so the result depends on every byte.
  std::vector<uint8_t> data(100000, 0xFF);
  const uint32_t all = Fletcher32(data.data(), data.size());
  data[99999] = 0xFE;
  EXPECT_NE(Fletcher32(data.data(), data.size()), all);
  EXPECT_NE(Fletcher32(data.data(), 717), Fletcher32(data.data(), 718));
}

}  // namespace
}  // namespace kel::sim
