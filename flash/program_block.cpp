#include "flash/program_block.h"

#include "flash/hardware_failure.h"
#include "flash/reply_report.h"
#include "flash/transfer_state.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/rpc_call.h"
#include "unit/rpc_codes.h"
#include "unit/rpc_programmer.h"

namespace kel {

namespace {

constexpr int kBlockAttempts = 8;

bool ProgramDirect(Link& link, uint32_t address, const uint8_t* data, size_t length) {
  Output& out = link.runtime.out;
  const bool large = length > rpc::kSmallBlock;
  RpcRequest request(link.state.bootLoaderAddress,
                     large ? rpc::kProgramFlashLarge : rpc::kProgramFlash);
  request.U32(address);
  if (large) {
    request.U16(static_cast<uint16_t>(length));
  } else {
    request.U8(static_cast<uint8_t>(length));
  }
  request.Bytes(data, length);
  RpcShape shape;
  shape.replySize = large ? 11 : 10;
  shape.flushWrites = large;
  for (int attempt = 0; attempt < kBlockAttempts; ++attempt) {
    ReplyHead head;
    uint32_t echoedAddress = 0;
    uint32_t echoedLength = 0;
    uint8_t result = 0;
    const bool valid = RpcAttempt(
        link, request, shape,
        [&](RpcReply& reply) {
          echoedAddress = reply.U32();
          echoedLength = large ? reply.U16() : reply.U8();
          result = reply.U8();
          return echoedAddress == address && echoedLength == length;
        },
        &head);
    if (valid) {
      if (result == 0) return true;
      ReportHardwareFailure(out, address, result);
      return false;
    }
    ReportRetry(out, "BAD REPLY FOR " + Hex(address, 8) + GotText(head) + " $" +
                         Hex(echoedAddress, 8) + " " + std::to_string(echoedLength));
  }
  TraceFailed(out);
  return false;
}

bool ProgramBuffered(Link& link, TransferState& transfer, uint32_t address, const uint8_t* data,
                     size_t length) {
  Output& out = link.runtime.out;
  if (!SendBufferedChunks(link, transfer.programChunks, data, length)) return false;
  RpcRequest request(link.state.bootLoaderAddress, rpc::kProgramFlashFromBuffer);
  request.U32(address).U16(static_cast<uint16_t>(length));
  for (int attempt = 0; attempt < kBlockAttempts; ++attempt) {
    uint8_t result = 0;
    const bool valid = RpcAttempt(link, request, {11}, [&](RpcReply& reply) {
      const uint32_t echoedAddress = reply.U32();
      const uint16_t echoedLength = reply.U16();
      result = reply.U8();
      return echoedAddress == address && echoedLength == length;
    });
    if (!valid) continue;
    if (result == 0) return true;
    ReportHardwareFailure(out, address, result);
    return false;
  }
  TraceFailed(out);
  return false;
}

}  // namespace

bool ProgramBlock(Link& link, TransferState& transfer, uint32_t address, const uint8_t* data,
                  size_t length, bool firstPiece) {
  if (link.state.overlappedActive) {
    return SendWindowedProgram(link, transfer.programWindow, address, data, length, firstPiece);
  }
  if (link.state.bufferedTransfer) return ProgramBuffered(link, transfer, address, data, length);
  return ProgramDirect(link, address, data, length);
}

}  // namespace kel
