#include "unit/rpc_programmer.h"

#include <algorithm>

#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/rpc_codes.h"

namespace kel {
namespace rpc {

namespace {

constexpr int kEraseAttempts = 8;
constexpr uint8_t kFlashPiece = 0x80;  // the count byte of the 128-byte flash requests

}  // namespace

RpcRequest WriteMemoryRequest(const Link& link, uint32_t address, const uint8_t* data,
                              uint8_t length) {
  RpcRequest request(link.state.bootLoaderAddress, kWriteMemory);
  request.U32(address).U8(length).Bytes(data, length);
  return request;
}

RpcRequest WriteMemoryLargeRequest(const Link& link, uint32_t address, const uint8_t* data,
                                   uint16_t length) {
  RpcRequest request(link.state.bootLoaderAddress, kWriteMemoryLarge);
  request.U32(address).U16(length).Bytes(data, length);
  return request;
}

RpcRequest BufferedChunkRequest(const Link& link, uint16_t offset, const uint8_t* data,
                                uint8_t length) {
  RpcRequest request(link.state.bootLoaderAddress, kBufferedChunk);
  request.U16(offset).U8(length).Bytes(data, length);
  return request;
}

bool WriteMemory(Link& link, uint32_t address, const uint8_t* data, uint8_t length) {
  return RpcAttempt(link, WriteMemoryRequest(link, address, data, length), {9},
                    [=](RpcReply& reply) {
                      const uint32_t echoedAddress = reply.U32();
                      return echoedAddress == address && reply.U8() == length;
                    });
}

bool WriteMemoryLarge(Link& link, uint32_t address, const uint8_t* data, uint16_t length) {
  return RpcAttempt(link, WriteMemoryLargeRequest(link, address, data, length), {10},
                    [=](RpcReply& reply) {
                      const uint32_t echoedAddress = reply.U32();
                      return echoedAddress == address && reply.U16() == length;
                    });
}

bool ExamineMemory(Link& link, uint32_t address, uint8_t count, uint8_t* out) {
  RpcRequest request(link.state.bootLoaderAddress, kExamineMemory);
  request.U32(address).U8(count);
  uint8_t data[255] = {};  // the count byte bounds the reply
  const bool valid =
      RpcAttempt(link, request, {static_cast<size_t>(9 + count)}, [&](RpcReply& reply) {
        const uint32_t echoedAddress = reply.U32();
        const uint8_t echoedCount = reply.U8();
        reply.Read(data, count);
        return echoedAddress == address && echoedCount == count;
      });
  if (valid) std::copy(data, data + count, out);
  return valid;
}

bool BufferedChunk(Link& link, uint16_t offset, const uint8_t* data, uint8_t length) {
  return RpcAttempt(link, BufferedChunkRequest(link, offset, data, length), {7},
                    [=](RpcReply& reply) {
                      const uint16_t echoedOffset = reply.U16();
                      return echoedOffset == offset && reply.U8() == length;
                    });
}

bool BufferedCommit(Link& link, uint32_t address, uint16_t length) {
  RpcRequest request(link.state.bootLoaderAddress, kBufferedCommit);
  request.U32(address).U16(length);
  return RpcAttempt(link, request, {10}, [=](RpcReply& reply) {
    const uint32_t echoedAddress = reply.U32();
    return echoedAddress == address && reply.U16() == length;
  });
}

bool EraseRange(Link& link, uint32_t first, uint32_t last,
                const std::function<void()>& unanswered) {
  RpcRequest request(link.state.bootLoaderAddress, kEraseRange);
  request.U32(first).U32(last);
  TraceRpc(link.runtime.out, "EraseRange");
  for (int attempt = 0; attempt < kEraseAttempts; ++attempt) {
    if (RpcAttempt(link, request, {4})) {
      TraceComplete(link.runtime.out);
      return true;
    }
    if (unanswered && attempt + 1 < kEraseAttempts) unanswered();
  }
  TraceFailed(link.runtime.out);
  return false;
}

bool EraseFms(Link& link, uint8_t drive, uint8_t& result) {
  RpcRequest request(link.state.bootLoaderAddress, kEraseFms);
  request.U8(drive).U8('F').U8('M').U8('S');
  uint8_t replyResult = 0;
  if (!CallRpc(link, "EraseFMS", request, {6}, kEraseAttempts, [&](RpcReply& reply) {
        const uint8_t echoedDrive = reply.U8();
        replyResult = reply.U8();
        return echoedDrive == drive;
      })) {
    return false;
  }
  result = replyResult;
  link.runtime.out.Print(Sink::kDebug, "COMPLETE: Result=", Hex(result, 2), "\r\n");
  return true;
}

bool Write128(Link& link, uint32_t address, const uint8_t* data, uint8_t& result) {
  RpcRequest request(link.state.bootLoaderAddress, kWrite128);
  request.U32(address).U8(kFlashPiece).Bytes(data, kSmallBlock);
  uint8_t replyResult = 0;
  const bool valid = RpcAttempt(link, request, {10}, [&](RpcReply& reply) {
    const uint32_t echoedAddress = reply.U32();
    const uint8_t echoedCount = reply.U8();
    replyResult = reply.U8();
    return echoedAddress == address && echoedCount == kFlashPiece;
  });
  if (valid) result = replyResult;
  return valid;
}

bool Read128(Link& link, uint32_t address, uint8_t* out) {
  RpcRequest request(link.state.bootLoaderAddress, kRead128);
  request.U32(address).U8(kFlashPiece);
  uint8_t data[kSmallBlock] = {};
  const bool valid = RpcAttempt(link, request, {137}, [&](RpcReply& reply) {
    const uint32_t echoedAddress = reply.U32();
    const uint8_t echoedCount = reply.U8();
    reply.Read(data, kSmallBlock);
    return echoedAddress == address && echoedCount == kFlashPiece;
  });
  if (valid) std::copy(data, data + kSmallBlock, out);
  return valid;
}

}  // namespace rpc
}  // namespace kel
