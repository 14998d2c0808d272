#pragma once

#include <cstddef>
#include <cstdint>

namespace kel::sim {

/// The four 32-bit checksums a unit reports for a file. The data is taken in
/// 256-byte blocks (the last padded with zeros) of 64 little-endian words
/// numbered j = 0..63: even j adds into checksum1, odd j into checksum4;
/// j mod 4 in {0, 3} folds into checksum2 and j mod 4 in {1, 2} into
/// checksum3, each as w XOR (sum rotated right by one bit).
struct FileChecksums {
  uint32_t checksum1 = 0;
  uint32_t checksum2 = 0;
  uint32_t checksum3 = 0;
  uint32_t checksum4 = 0;
};

FileChecksums ComputeFileChecksums(const uint8_t* data, size_t size);

/// The Fletcher checksum appended (most significant byte first) to software
/// and boot-loader update files: s2 * 65536 + s1.
uint32_t Fletcher32(const uint8_t* data, size_t size);

/// The zlib/IEEE CRC-32 (reflected polynomial 0xEDB88320), continuing from a
/// previous result `crc` (0 to start).
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

}  // namespace kel::sim
