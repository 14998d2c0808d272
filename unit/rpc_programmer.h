#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "link/link_state.h"
#include "unit/rpc_call.h"

namespace kel {

/// Memory and flash requests to the boot loader and the flash programmer, at
/// the boot-loader address. The *Request functions build a request for the
/// windowed transports, which send now and match the echo later; the other
/// functions are single exchanges, valid only when the reply echoes every
/// argument (address, length, offset, count). Retries, windows and link
/// changes belong to the callers.
namespace rpc {

/// At most this many bytes in one plain memory write or read.
constexpr size_t kSmallBlock = 128;

RpcRequest WriteMemoryRequest(const Link& link, uint32_t address, const uint8_t* data,
                              uint8_t length);
RpcRequest WriteMemoryLargeRequest(const Link& link, uint32_t address, const uint8_t* data,
                                   uint16_t length);
RpcRequest BufferedChunkRequest(const Link& link, uint16_t offset, const uint8_t* data,
                                uint8_t length);

/// 0x1020: `length` bytes (at most 128) to RAM at `address`; 9-byte echo.
bool WriteMemory(Link& link, uint32_t address, const uint8_t* data, uint8_t length);
/// 0x1024: more than 128 bytes at once; 10-byte echo.
bool WriteMemoryLarge(Link& link, uint32_t address, const uint8_t* data, uint16_t length);
/// 0x1021: reads `count` bytes (at most 128) at `address` into `out`.
bool ExamineMemory(Link& link, uint32_t address, uint8_t count, uint8_t* out);
/// 0x1038: a chunk into the unit's buffer at `offset`; 7-byte echo.
bool BufferedChunk(Link& link, uint16_t offset, const uint8_t* data, uint8_t length);
/// 0x1039: the buffer's first `length` bytes to `address`; 10-byte echo.
bool BufferedCommit(Link& link, uint32_t address, uint16_t length);

/// "RPC: EraseRange", up to 8 attempts: erases flash from `first` to `last`
/// inclusive. `unanswered`, when given, is told of each attempt that got no
/// valid reply and is followed by another (an erase takes seconds; the
/// caller may say it still waits); the last one only ends in "FAILED".
bool EraseRange(Link& link, uint32_t first, uint32_t last,
                const std::function<void()>& unanswered = {});
/// "RPC: EraseFMS", up to 8 attempts: erases the flash drive `drive`. A
/// reply echoing the drive succeeds whatever its `result`.
bool EraseFms(Link& link, uint8_t drive, uint8_t& result);

/// 0x1050: 128 bytes to flash at `address`; the unit's result byte is
/// returned in `result`.
bool Write128(Link& link, uint32_t address, const uint8_t* data, uint8_t& result);
/// 0x1051: 128 bytes of flash at `address` into `out`.
bool Read128(Link& link, uint32_t address, uint8_t* out);

}  // namespace rpc

}  // namespace kel
