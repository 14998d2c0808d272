#include "files/check_values.h"

#include "link/packet_layer.h"

namespace kel {

namespace {

constexpr size_t kChecksumBlock = 256;
constexpr size_t kWordsPerFold = 359;  // the sums cannot overflow 32 bits before it
constexpr uint8_t kCrcKey = 1;
constexpr uint8_t kOneByteNumber = 0x31;  // type 3, length 1
constexpr uint8_t kTwoByteNumber = 0x42;  // type 4, length 2
// Types whose length runs on over 12 bits: the low four bits of the type
// byte and one more header byte.
constexpr uint8_t kFirstLongType = 14;

uint32_t RotateRight(uint32_t value) { return value >> 1 | value << 31; }

uint32_t Fold(uint32_t sum) { return (sum & 0xFFFF) + (sum >> 16); }

}  // namespace

FileChecksums ComputeFileChecksums(const uint8_t* data, size_t size) {
  FileChecksums sums{};
  for (size_t block = 0; block < size; block += kChecksumBlock) {
    for (size_t j = 0; j < kChecksumBlock / 4; ++j) {
      uint32_t word = 0;
      for (size_t b = 0; b < 4; ++b) {
        const size_t at = block + j * 4 + b;
        if (at < size) word |= static_cast<uint32_t>(data[at]) << (8 * b);
      }
      if (j % 2 == 0) {
        sums[0] += word;
      } else {
        sums[3] += word;
      }
      if (j % 4 == 0 || j % 4 == 3) {
        sums[1] = word ^ RotateRight(sums[1]);
      } else {
        sums[2] = word ^ RotateRight(sums[2]);
      }
    }
  }
  return sums;
}

uint16_t FileCrcNumber(const uint8_t* data, size_t size) { return Crc16OfBuffer(data, size); }

uint32_t FletcherChecksum(const uint8_t* data, size_t size) {
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
    if (++sinceFold == kWordsPerFold * 2) {
      s1 = Fold(s1);
      s2 = Fold(s2);
      sinceFold = 0;
    }
  }
  // A last byte without its partner still counts as a word.
  if (sinceFold % 2 != 0) s2 += s1;
  s1 = Fold(Fold(s1));
  s2 = Fold(Fold(s2));
  return s2 << 16 | s1;
}

std::vector<uint8_t> CrcProperties(uint16_t crcNumber) {
  if (crcNumber == 0) return {};
  if (crcNumber <= 0xFF) return {kCrcKey, kOneByteNumber, static_cast<uint8_t>(crcNumber)};
  return {kCrcKey, kTwoByteNumber, static_cast<uint8_t>(crcNumber >> 8),
          static_cast<uint8_t>(crcNumber & 0xFF)};
}

uint32_t CrcFromProperties(const std::vector<uint8_t>& properties) {
  size_t at = 0;
  // Items stand in ascending key order, so the walk ends at the first key
  // past the CRC's. Every length comes from the unit and is checked
  // against the block before it is used.
  while (at + 2 <= properties.size()) {
    const uint8_t key = properties[at];
    const uint8_t type = properties[at + 1] >> 4;
    size_t length = properties[at + 1] & 0x0F;
    size_t header = 2;
    if (type >= kFirstLongType) {
      if (at + 3 > properties.size()) return 0;
      length = length << 8 | properties[at + 2];
      header = 3;
    }
    if (at + header + length > properties.size()) return 0;
    if (key > kCrcKey) return 0;
    if (key == kCrcKey) {
      uint32_t value = 0;
      for (size_t i = 0; i < length; ++i) value = value << 8 | properties[at + header + i];
      return value;
    }
    at += header + length;
  }
  return 0;
}

}  // namespace kel
