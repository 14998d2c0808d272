#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kel {

/// One record of a record image: `length` bytes of opaque data for
/// `address`. The data points into the image's bytes.
struct ImageRecord {
  uint32_t address = 0;
  uint16_t length = 0;
  const uint8_t* data = nullptr;
};

/// The container shared by every programmer, boot-loader and software image:
/// big-endian start address (4), total length (4), then records of address
/// (4), length (2) and data, ended by the address 0xFFFFFFFF.
///
/// Parse checks the whole container before anything is used, so a truncated
/// or hostile file (a boot-tool output, a replaced image) is refused instead
/// of being sent to a unit. The image does not copy the bytes: they must
/// outlive it.
class RecordImage {
 public:
  static constexpr uint32_t kEndMarker = 0xFFFFFFFF;
  /// The longest record: the transfer buffers hold 16,385 bytes.
  static constexpr uint16_t kMaxRecordLength = 16384;

  RecordImage() = default;

  /// Reads the container in `bytes[0..size)`. False, leaving the image
  /// empty, when the header or a record runs past the end, a record is empty
  /// or longer than kMaxRecordLength, a record's addresses wrap past
  /// 0xFFFFFFFF, the end marker is missing, or bytes follow the marker.
  /// A first address of 0xFFFFFFFF is a valid image without records.
  bool Parse(const uint8_t* bytes, size_t size);

  bool valid() const { return valid_; }
  /// The RAM address a programmer is started at.
  uint32_t startAddress() const { return startAddress_; }
  /// The progress display's 100 % mark (0 = no display); as stored, not
  /// checked against the records.
  uint32_t totalLength() const { return totalLength_; }
  const std::vector<ImageRecord>& records() const { return records_; }
  /// Sum of the record lengths.
  uint64_t payloadBytes() const { return payloadBytes_; }

 private:
  void Clear();

  bool valid_ = false;
  uint32_t startAddress_ = 0;
  uint32_t totalLength_ = 0;
  uint64_t payloadBytes_ = 0;
  std::vector<ImageRecord> records_;
};

}  // namespace kel
