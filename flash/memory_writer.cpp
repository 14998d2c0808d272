#include "flash/memory_writer.h"

#include <algorithm>

#include "flash/reply_report.h"
#include "flash/transfer_state.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/rpc_call.h"
#include "unit/rpc_programmer.h"

namespace kel {

namespace {

constexpr int kWriteAttempts = 8;

bool WriteDirect(Link& link, uint32_t address, const uint8_t* data, size_t length) {
  const bool large = length > rpc::kSmallBlock;
  const RpcRequest request =
      large ? rpc::WriteMemoryLargeRequest(link, address, data, static_cast<uint16_t>(length))
            : rpc::WriteMemoryRequest(link, address, data, static_cast<uint8_t>(length));
  RpcShape shape;
  shape.replySize = large ? 10 : 9;
  shape.flushWrites = large;
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    ReplyHead head;
    uint32_t echoedAddress = 0;
    uint32_t echoedLength = 0;
    const bool valid = RpcAttempt(
        link, request, shape,
        [&](RpcReply& reply) {
          echoedAddress = reply.U32();
          echoedLength = large ? reply.U16() : reply.U8();
          return echoedAddress == address && echoedLength == length;
        },
        &head);
    if (valid) return true;
    ReportRetry(link.runtime.out, "BAD REPLY FOR " + Hex(address, 8) + GotText(head) + " $" +
                                      Hex(echoedAddress, 8) + " " + std::to_string(echoedLength));
  }
  TraceFailed(link.runtime.out);
  return false;
}

bool WriteBuffered(Link& link, TransferState& transfer, uint32_t address, const uint8_t* data,
                   size_t length) {
  if (!SendBufferedChunks(link, transfer.downloadChunks, data, length)) return false;
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    if (rpc::BufferedCommit(link, address, static_cast<uint16_t>(length))) return true;
  }
  TraceFailed(link.runtime.out);
  return false;
}

}  // namespace

bool WriteMemory(Link& link, TransferState& transfer, uint32_t address, const uint8_t* data,
                 size_t length) {
  if (link.state.overlappedActive) {
    return SendWindowedWrite(link, transfer.writeWindow, transfer.windowLimit, address, data,
                             length);
  }
  if (link.state.bufferedTransfer) return WriteBuffered(link, transfer, address, data, length);
  return WriteDirect(link, address, data, length);
}

bool ExamineMemory(Link& link, uint32_t address, const uint8_t* expected, size_t length) {
  Output& out = link.runtime.out;
  size_t done = 0;
  while (done < length) {
    const size_t count = std::min(length - done, rpc::kSmallBlock);
    const uint32_t at = static_cast<uint32_t>(address + done);
    bool matched = false;
    for (int attempt = 0; attempt < kWriteAttempts && !matched; ++attempt) {
      uint8_t got[rpc::kSmallBlock] = {};
      if (!rpc::ExamineMemory(link, at, static_cast<uint8_t>(count), got)) continue;
      matched = true;
      for (size_t i = 0; i < count; ++i) {
        if (got[i] == expected[done + i]) continue;
        out.Print(Sink::kDebug, "Examine returned different data at ",
                  Hex(static_cast<uint32_t>(at + i), 8), " got ", Hex(got[i], 2), " expected ",
                  Hex(expected[done + i], 2), "\r\n");
        matched = false;
      }
      if (!matched) out.Print(Sink::kInfo, "Verify error\r\n");
    }
    if (!matched) return false;
    done += count;
  }
  return true;
}

}  // namespace kel
