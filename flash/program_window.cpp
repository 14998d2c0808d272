#include "flash/program_window.h"

#include <algorithm>

#include "flash/hardware_failure.h"
#include "flash/reply_report.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/rpc_call.h"
#include "unit/rpc_codes.h"
#include "unit/rpc_programmer.h"

namespace kel {

namespace {

constexpr size_t kProgramLimit = 8;
constexpr int kRetireAttempts = 20;
constexpr size_t kReplySize = 12;  // head, tag (2), address (4), length (1), result (1)
constexpr uint16_t kSequenceMask = 0x7FFF;
constexpr uint16_t kFirstPieceBit = 0x8000;

void Send(Link& link, const ProgramSlot& slot) {
  RpcRequest request(link.state.bootLoaderAddress, rpc::kProgramFlashWindowed);
  request.U16(slot.tag).U32(slot.address).U8(static_cast<uint8_t>(slot.length));
  request.Bytes(slot.data.data(), slot.length);
  SendRpcRequest(link, request);
}

uint16_t SequenceOf(uint16_t tag) { return tag & kSequenceMask; }

}  // namespace

bool SendWindowedProgram(Link& link, ProgramWindow& window, uint32_t address, const uint8_t* data,
                         size_t length, bool firstPiece) {
  if (window.MustRetire(kProgramLimit) && !RetireProgram(link, window)) return false;
  ProgramSlot& slot = window.headSlot();
  slot.address = address;
  slot.length = static_cast<uint32_t>(std::min(length, rpc::kSmallBlock));
  std::copy_n(data, slot.length, slot.data.begin());
  slot.tag = static_cast<uint16_t>(window.sequence | (firstPiece ? kFirstPieceBit : 0));
  Send(link, slot);
  window.Push();
  window.sequence = static_cast<uint16_t>((window.sequence + 1) & kSequenceMask);
  return true;
}

bool RetireProgram(Link& link, ProgramWindow& window) {
  Output& out = link.runtime.out;
  for (int attempt = 0; attempt < kRetireAttempts; ++attempt) {
    ReplyHead head;
    uint16_t tag = 0;
    uint32_t address = 0;
    uint8_t length = 0;
    uint8_t result = 0;
    const bool checked = ReceiveRpcReply(link, kReplySize, head, [&](RpcReply& reply) {
      tag = reply.U16();
      address = reply.U32();
      length = reply.U8();
      result = reply.U8();
    });
    const uint16_t oldest = SequenceOf(window.tailSlot().tag);
    const uint16_t acknowledged = SequenceOf(tag);
    const bool ours = checked && head.address == link.state.bootLoaderAddress &&
                      head.service == service::kCommand &&
                      head.command == rpc::kProgramFlashWindowed;
    if (!checked) {
      // The unit takes writes in sequence only: after a gap it ignores the
      // rest, so everything outstanding goes again, oldest first.
      for (size_t i = 0; i < window.count(); ++i) Send(link, window.Outstanding(i));
    } else if (ours && result != 0) {
      // A refusal counts whichever write it names: its reply may come after
      // that of a younger write, whose acknowledgement already retired it.
      ReportHardwareFailure(out, address, result);
      return false;
    } else if (ours && acknowledged >= oldest && acknowledged < window.sequence) {
      while (!window.empty() && SequenceOf(window.tailSlot().tag) <= acknowledged) {
        window.Retire();
      }
      return true;
    }
    // Anything else is stale: a late reply to a write already retired, or
    // one naming a write not sent yet (from an earlier image, or damaged).
    ReportRetry(out, "ACK MISSING FOR " + Hex(oldest, 4) + GotText(head) + " " +
                         Hex(acknowledged, 4) + " $" + Hex(address, 8) + " " +
                         std::to_string(length));
  }
  TraceFailed(out);
  return false;
}

bool DrainProgramWindow(Link& link, ProgramWindow& window) {
  while (!window.empty()) {
    if (!RetireProgram(link, window)) return false;
  }
  return true;
}

}  // namespace kel
