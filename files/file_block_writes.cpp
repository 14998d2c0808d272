// Writing through the file window: blocks go out without waiting until 8
// are in flight; the unit acknowledges cumulatively by offset, and a
// negative or missing acknowledgement sends the oldest outstanding block
// again until the unit has every block.
#include <algorithm>
#include <string>

#include "files/remote_file_access.h"
#include "link/comm_port.h"
#include "link/packet_layer.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/rpc_call.h"

namespace kel {

namespace {

constexpr int kAckTries = 20;
constexpr int kResendPasses = 20;
// Packets read after one resend before the pass counts as unanswered: the
// acknowledgements still in flight for a whole window, sent twice.
constexpr int kReadsPerPass = 2 * static_cast<int>(kFileWindowLimit) + 2;

// What came instead of the awaited acknowledgement: drive, file and offset.
std::string GotText(const WriteAck& ack) {
  return " - GOT " + Hex(ack.drive, 2) + "." + Hex(ack.file, 4) + Hex(ack.offset, 8);
}

}  // namespace

void RemoteFileAccess::SendSlot(const FileRef& ref, const FileSlot& slot) {
  SendWriteBlock(link_, ref, HighSpeedBlocks(), slot.offset, slot.data.data(), slot.length);
}

bool RemoteFileAccess::WriteFileBlock(uint8_t address, uint8_t drive, uint16_t file,
                                      uint32_t offset, const uint8_t* data, uint8_t length,
                                      uint8_t& result) {
  result = 0;
  const FileRef ref{address, drive, file};
  if (window_.MustRetire(kFileWindowLimit) && !AwaitAcknowledgements(ref, 1, result)) {
    return false;
  }
  FileSlot& slot = window_.headSlot();
  slot.offset = offset;
  slot.length = std::min(length, kFileBlockSize);
  std::copy_n(data, slot.length, slot.data.begin());
  slot.arrived = false;
  SendSlot(ref, slot);
  window_.Push();
  return true;
}

bool RemoteFileAccess::FlushFileRemote(uint8_t address, uint8_t drive, uint16_t file,
                                       uint8_t& result) {
  result = 0;
  if (AwaitAcknowledgements({address, drive, file}, window_.count(), result)) return true;
  link_.runtime.out.Print(Sink::kDebug, "FlushFileRemote failed\r\n");
  return false;
}

size_t RemoteFileAccess::RetireUpTo(uint32_t offset) {
  size_t retired = 0;
  while (!window_.empty() && window_.tailSlot().offset <= offset) {
    window_.Retire();
    ++retired;
  }
  return retired;
}

void RemoteFileAccess::ReportHardwareFailure(const WriteAck& ack, uint8_t& result) {
  result = ack.result;
  link_.runtime.out.Print(
      Sink::kInfo, "\r\nUnit reported hardware failure, cannot write to flash drive. Address=$",
      Hex(ack.offset, 8), ", Result=", Hex(ack.result, 2), "\r\n");
}

bool RemoteFileAccess::AwaitAcknowledgements(const FileRef& ref, size_t wanted, uint8_t& result) {
  Output& out = link_.runtime.out;
  size_t retired = 0;
  int tries = 0;
  while (retired < wanted && !window_.empty()) {
    WriteAck ack;
    const Arrival arrival = ReceiveWriteAck(link_, ack);
    const uint32_t oldest = window_.tailSlot().offset;
    if (arrival == Arrival::kNothing) {
      out.Print(Sink::kDebug, "no data received from comm port\r\n");
      out.Print(Sink::kDebug, "ACK MISSING FOR ", Hex(oldest, 8), " - GOT nothing\r\n");
      return ResendFromOldest(ref, result);
    }
    if (arrival == Arrival::kPacket && ack.IsFor(ref)) {
      if (ack.result != 0) {
        ReportHardwareFailure(ack, result);
        return false;
      }
      if (ack.status == WriteAck::kAcknowledged && ack.offset >= oldest) {
        retired += RetireUpTo(ack.offset);
        continue;
      }
      // A refusal of a block already acknowledged is an echo of an earlier
      // resend, not news; only one at or beyond the oldest block counts.
      if (ack.status == WriteAck::kNegative && ack.offset >= oldest) {
        out.Print(Sink::kDebug, "NACK FOR ", Hex(oldest, 8), GotText(ack), "\r\n");
        return ResendFromOldest(ref, result);
      }
    }
    if (++tries >= kAckTries) {
      TraceFailed(out);
      return false;
    }
  }
  return true;
}

bool RemoteFileAccess::ResendFromOldest(const FileRef& ref, uint8_t& result) {
  for (int pass = 1; pass <= kResendPasses; ++pass) {
    // The second pass starts from a freshly opened port, which drops
    // whatever half-received bytes kept the line out of step. Through a
    // proxy the port is not the unit's line and stays as it is.
    if (pass == 2 && !link_.packets.proxy().on) link_.port.ChangeBaudRate();
    const FileSlot& oldest = window_.tailSlot();
    SendSlot(ref, oldest);
    if (pass >= 3) SendSlot(ref, oldest);
    for (int read = 0; read < kReadsPerPass; ++read) {
      WriteAck ack;
      const Arrival arrival = ReceiveWriteAck(link_, ack);
      if (arrival == Arrival::kNothing) break;
      if (arrival != Arrival::kPacket || !ack.IsFor(ref)) continue;
      if (ack.result != 0) {
        ReportHardwareFailure(ack, result);
        return false;
      }
      if (ack.status == WriteAck::kAcknowledged && ack.offset >= window_.tailSlot().offset) {
        RetireUpTo(ack.offset);
        if (window_.empty()) return true;
        pass = 0;  // a new series of passes for the new oldest block
        break;
      }
    }
  }
  TraceFailed(link_.runtime.out);
  return false;
}

}  // namespace kel
