#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kel {

/// The four 32-bit checksums a unit keeps for each file, compared without
/// reading the file back. The data is taken in 256-byte blocks (the last
/// padded with zero bytes) of 64 little-endian words j = 0..63: even words
/// add into the first, odd words into the fourth; words with j mod 4 of 0 or
/// 3 fold into the second and the others into the third, each as
/// word XOR (sum rotated right by one bit). An empty file gives four zeros.
using FileChecksums = std::array<uint32_t, 4>;
FileChecksums ComputeFileChecksums(const uint8_t* data, size_t size);

/// The file's CRC as a unit stores it: the frame CRC over the bytes, read
/// as the number whose high byte is the CRC's low byte ("abc": 0x4957).
uint16_t FileCrcNumber(const uint8_t* data, size_t size);

/// The Fletcher checksum appended to boot-loader and software update files
/// (most significant byte first): two sums from 0xFFFF over big-endian
/// 16-bit words, folded after every 359 words and twice at the end;
/// s2 * 65536 + s1.
uint32_t FletcherChecksum(const uint8_t* data, size_t size);

/// A properties block holding only the file CRC as item 1: empty for 0,
/// 0x01 0x31 and the byte up to 255, 0x01 0x42 and two bytes above.
std::vector<uint8_t> CrcProperties(uint16_t crcNumber);

/// Item 1 of a properties block read as an unsigned number of its stored
/// length; 0 when the item is missing or the block is malformed.
uint32_t CrcFromProperties(const std::vector<uint8_t>& properties);

}  // namespace kel
