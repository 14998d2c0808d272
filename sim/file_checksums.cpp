#include "sim/file_checksums.h"

#include <array>

namespace kel::sim {

namespace {

uint32_t RotateRight1(uint32_t value) { return (value >> 1) | (value << 31); }

std::array<uint32_t, 256> MakeCrc32Table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    table[i] = c;
  }
  return table;
}

}  // namespace

FileChecksums ComputeFileChecksums(const uint8_t* data, size_t size) {
  FileChecksums sums;
  // Words past the end of the data read as zero: the last block is padded.
  const size_t blocks = (size + 255) / 256;
  for (size_t block = 0; block < blocks; ++block) {
    for (size_t j = 0; j < 64; ++j) {
      const size_t at = block * 256 + j * 4;
      uint32_t word = 0;
      for (size_t k = 0; k < 4; ++k) {
        if (at + k < size) word |= static_cast<uint32_t>(data[at + k]) << (8 * k);
      }
      if (j % 2 == 0) {
        sums.checksum1 += word;
      } else {
        sums.checksum4 += word;
      }
      if (j % 4 == 0 || j % 4 == 3) {
        sums.checksum2 = word ^ RotateRight1(sums.checksum2);
      } else {
        sums.checksum3 = word ^ RotateRight1(sums.checksum3);
      }
    }
  }
  return sums;
}

uint32_t Fletcher32(const uint8_t* data, size_t size) {
  uint32_t s1 = 0xFFFF;
  uint32_t s2 = 0xFFFF;
  size_t sinceFold = 0;
  for (size_t i = 0; i < size; ++i) {
    if (i % 2 == 0) {
      s1 += static_cast<uint32_t>(data[i]) << 8;
    } else {
      s1 += data[i];
      s2 += s1;
    }
    // Folding every 359 words keeps both sums far from overflowing 32 bits.
    if (++sinceFold == 718) {
      s1 = (s1 & 0xFFFF) + (s1 >> 16);
      s2 = (s2 & 0xFFFF) + (s2 >> 16);
      sinceFold = 0;
    }
  }
  // A trailing odd byte is a word with a zero low byte; it still counts in s2.
  if (sinceFold % 2 == 1) s2 += s1;
  for (int i = 0; i < 2; ++i) {
    s1 = (s1 & 0xFFFF) + (s1 >> 16);
    s2 = (s2 & 0xFFFF) + (s2 >> 16);
  }
  return (s2 << 16) | s1;
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
  static const std::array<uint32_t, 256> table = MakeCrc32Table();
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}

}  // namespace kel::sim
