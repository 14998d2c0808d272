#pragma once

// Request parsing and reply building that the boot loader, the RAM
// programmer, the file services and the application share.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/sim_reply.h"

namespace kel::sim {

struct SimUnit;

constexpr size_t kRequestHead = 4;      ///< address, 0x45, 0x10, command
constexpr size_t kMaxSmallWrite = 128;  ///< data of a one-byte-length request
constexpr size_t kMaxRecord = 16384;    ///< the largest record an image may hold
constexpr int32_t kProgrammerBaud = 115200;
constexpr uint8_t kPing = 0x41;            ///< "A": are you there?
constexpr uint8_t kCommandService = 0x45;  ///< the service byte of a command request
constexpr uint8_t kBootLoaderAddress = 1;  ///< a boot loader answers at this address
constexpr uint8_t kNoSoftwareFlag = 0x01;  ///< boot-loader status bit: no valid software
/// From this software version on a unit reads and writes files in fast blocks.
constexpr int16_t kFastBlocksFromVersion = 604;
/// The boot loader owns the first 16 KiB of flash.
constexpr uint32_t kBootAreaSize = 0x4000;

/// A reply with the unit's processing time and framing.
SimReply MakeReply(std::vector<uint8_t> payload, uint32_t delayMs = 0, bool lengthFramed = false);

/// The buffer size the unit's present role reports: the programmer's own
/// when the scenario gives one, else the boot loader's.
uint16_t BufferSizeOf(const SimUnit& unit);

/// The transfer buffer a write may fill: the role's buffer size, never below 128.
size_t TransferBufferSize(const SimUnit& unit);

/// True when `length` bytes from `address` stay below 4 GiB.
bool FitsAddressSpace(uint32_t address, size_t length);

/// A write request: address (4), length (1, or 2 when large), data.
struct BlockRequest {
  uint32_t address = 0;
  size_t length = 0;
  size_t dataAt = 0;  ///< index of the first data byte in the payload
};

/// Parses a write-memory or program-flash request. False (the unit drops
/// the frame) when the data does not match the length field, a small one
/// exceeds 128 bytes, or a large one exceeds the unit's buffer. Where the
/// block lies is left to the caller.
bool ParseBlockRequest(const SimUnit& unit, const std::vector<uint8_t>& payload, bool large,
                       BlockRequest& out);

/// The ReadUnitInfo (0x1010) reply: card number, circuit code, `version`,
/// and a last word that from version 6.00 on carries the build increment
/// and release, and before it the product word.
std::vector<uint8_t> UnitInfoReply(const SimUnit& unit, const std::vector<uint8_t>& request,
                                   int16_t version);

}  // namespace kel::sim
