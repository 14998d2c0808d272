#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "link/link_state.h"

namespace kel {

/// Largest data block of the file services.
constexpr uint8_t kFileBlockSize = 128;

/// Which file a block belongs to, as it travels in every block and reply.
struct FileRef {
  uint8_t address = 0;
  uint8_t drive = 0;
  uint16_t file = 0;
};

/// Sends one data block for writing: the "G" form (address, 0x47, "2",
/// drive, file, offset, length, data) or, with `highSpeed`, the "H" form
/// (address, 0x48, 0x04, "2", ...), behind a length header.
void SendWriteBlock(Link& link, const FileRef& ref, bool highSpeed, uint32_t offset,
                    const uint8_t* data, uint8_t length);

/// Sends a read request for the block at `offset` (address, 0x47, "0",
/// drive, file, offset, 128), behind a length header.
void SendReadRequest(Link& link, const FileRef& ref, uint32_t offset);

/// A write acknowledgement as the unit sends it: status "3" (every block up
/// to and including the one at `offset` is in) or "4" (negative), and the
/// unit's result (0 = written).
struct WriteAck {
  uint8_t service = 0;
  uint8_t status = 0;
  uint8_t drive = 0;
  uint16_t file = 0;
  uint32_t offset = 0;
  uint8_t result = 0;

  static constexpr uint8_t kAcknowledged = '3';
  static constexpr uint8_t kNegative = '4';
  bool IsFor(const FileRef& ref) const;
};

/// A read reply: the "G" form or the "H" form (one more byte after the
/// service), with up to 128 data bytes, or the count 0xFF of a failed flash
/// read and no data.
struct ReadReply {
  uint8_t service = 0;
  uint8_t status = 0;
  uint8_t drive = 0;
  uint16_t file = 0;
  uint32_t offset = 0;
  uint8_t length = 0;
  std::array<uint8_t, kFileBlockSize> data{};

  static constexpr uint8_t kReply = '1';
  static constexpr uint8_t kFlashFailed = 0xFF;
  bool IsFor(const FileRef& ref) const;
};

/// How a wait for a packet ended.
enum class Arrival {
  kNothing,  ///< no complete packet within the receive timeout
  kDamaged,  ///< bytes came, but not a packet of the expected kind with a good CRC
  kPacket,   ///< a good packet, read into the record
};

/// Receives one write acknowledgement (12 bytes) within the link's receive
/// timeout.
Arrival ReceiveWriteAck(Link& link, WriteAck& ack);

/// Receives one read reply within the link's receive timeout; its announced
/// data are received only when the count is at most 128.
Arrival ReceiveReadReply(Link& link, ReadReply& reply);

}  // namespace kel
