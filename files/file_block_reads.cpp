// Reading through the file window: up to 8 read requests go out ahead of
// the block the caller wants, and replies are matched to them by offset,
// whatever order they come in.
#include <algorithm>

#include "files/remote_file_access.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/rpc_call.h"

namespace kel {

namespace {

constexpr int kReadTries = 20;
// Replies that answer no outstanding read (those of reads given up at a
// restart, duplicates, damaged packets) tolerated while one is awaited.
constexpr int kStrayLimit = 4 * static_cast<int>(kFileWindowLimit);

}  // namespace

FileSlot* RemoteFileAccess::OutstandingRead(uint32_t offset) {
  for (size_t i = 0; i < window_.count(); ++i) {
    if (window_.Outstanding(i).offset == offset) return &window_.Outstanding(i);
  }
  return nullptr;
}

void RemoteFileAccess::RequestAhead(const FileRef& ref) {
  while (!window_.MustRetire(kFileWindowLimit)) {
    FileSlot& slot = window_.headSlot();
    slot.offset = readPosition_;
    slot.length = 0;
    slot.arrived = false;
    SendReadRequest(link_, ref, readPosition_);
    window_.Push();
    readPosition_ += kFileBlockSize;
  }
}

bool RemoteFileAccess::AwaitRead(const FileRef& ref, uint32_t offset) {
  Output& out = link_.runtime.out;
  int missing = 0;
  int strays = 0;
  for (;;) {
    const FileSlot* wanted = OutstandingRead(offset);
    if (wanted == nullptr) return false;
    if (wanted->arrived) return true;
    ReadReply reply;
    const Arrival arrival = ReceiveReadReply(link_, reply);
    if (arrival == Arrival::kNothing) {
      out.Print(Sink::kDebug, "READ MISSING FOR ", Hex(offset, 8), Hex(ref.drive, 2), ".",
                Hex(ref.file, 4), "\r\n");
      if (++missing >= kReadTries) {
        TraceFailed(out);
        return false;
      }
      SendReadRequest(link_, ref, offset);
      continue;
    }
    FileSlot* slot =
        arrival == Arrival::kPacket && reply.IsFor(ref) ? OutstandingRead(reply.offset) : nullptr;
    if (slot != nullptr && !slot->arrived && reply.length == ReadReply::kFlashFailed) {
      out.Print(Sink::kInfo,
                "\r\nUnit reported hardware failure, cannot read from flash drive. Address=$",
                Hex(reply.offset, 8), "\r\n");
      return false;
    }
    if (slot != nullptr && !slot->arrived && reply.length <= kFileBlockSize) {
      std::copy_n(reply.data.begin(), reply.length, slot->data.begin());
      slot->length = reply.length;
      slot->arrived = true;
      continue;
    }
    if (++strays >= kStrayLimit) {
      TraceFailed(out);
      return false;
    }
  }
}

bool RemoteFileAccess::ReadFileRemote(uint8_t address, uint8_t drive, uint16_t file,
                                      uint32_t offset, uint8_t& length, uint8_t* data) {
  const FileRef ref{address, drive, file};
  if (OutstandingRead(offset) == nullptr) {
    // A position the reads ahead did not ask for (the one after a short
    // block, or a caller that skips): the reads ahead start again from it.
    window_ = FileWindow();
    readPosition_ = offset;
  }
  RequestAhead(ref);
  if (!AwaitRead(ref, offset)) return false;
  // Blocks before the one wanted are not asked for again.
  while (window_.tailSlot().offset != offset) window_.Retire();
  const FileSlot& slot = window_.tailSlot();
  length = std::min(length, slot.length);
  std::copy_n(slot.data.begin(), length, data);
  window_.Retire();
  return true;
}

bool RemoteFileAccess::FinishReads(const FileRef& ref) {
  bool finished = true;
  for (size_t i = 0; i < window_.count() && finished; ++i) {
    const FileSlot& slot = window_.Outstanding(i);
    if (!slot.arrived) finished = AwaitRead(ref, slot.offset);
  }
  window_ = FileWindow();
  return finished;
}

}  // namespace kel
