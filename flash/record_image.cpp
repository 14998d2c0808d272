#include "flash/record_image.h"

#include <utility>

namespace kel {
namespace {

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint16_t BigEndian16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

constexpr size_t kHeaderBytes = 8;
constexpr size_t kRecordHeaderBytes = 6;
constexpr size_t kAddressBytes = 4;

}  // namespace

void RecordImage::Clear() {
  valid_ = false;
  startAddress_ = 0;
  totalLength_ = 0;
  payloadBytes_ = 0;
  records_.clear();
}

bool RecordImage::Parse(const uint8_t* bytes, size_t size) {
  Clear();
  if (bytes == nullptr || size < kHeaderBytes + kAddressBytes) return false;
  std::vector<ImageRecord> records;
  uint64_t payload = 0;
  size_t offset = kHeaderBytes;
  // Every read below is preceded by a check against the bytes left, written
  // as subtractions so that no offset arithmetic can overflow.
  for (;;) {
    if (size - offset < kAddressBytes) return false;  // marker missing
    const uint32_t address = BigEndian32(bytes + offset);
    if (address == kEndMarker) {
      offset += kAddressBytes;
      break;
    }
    if (size - offset < kRecordHeaderBytes) return false;
    const uint16_t length = BigEndian16(bytes + offset + kAddressBytes);
    offset += kRecordHeaderBytes;
    if (length == 0 || length > kMaxRecordLength) return false;
    if (size - offset < length) return false;
    // A record may end exactly at 0xFFFFFFFF but must not wrap around.
    if (uint64_t{address} + length - 1 > 0xFFFFFFFFull) return false;
    records.push_back(ImageRecord{address, length, bytes + offset});
    payload += length;
    offset += length;
  }
  // The marker ends the image; anything after it means the file is not the
  // image it claims to be.
  if (offset != size) return false;
  startAddress_ = BigEndian32(bytes);
  totalLength_ = BigEndian32(bytes + 4);
  payloadBytes_ = payload;
  records_ = std::move(records);
  valid_ = true;
  return true;
}

}  // namespace kel
