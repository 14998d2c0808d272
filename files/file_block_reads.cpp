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

// Counts one more stray reply; true (and the failure traced) at the limit.
bool TooManyStrays(Output& out, int& strays) {
  if (++strays < kStrayLimit) return false;
  TraceFailed(out);
  return true;
}

}  // namespace

FileSlot* RemoteFileAccess::OutstandingRead(uint32_t offset) {
  for (size_t i = 0; i < window_.count(); ++i) {
    if (window_.Outstanding(i).offset == offset) return &window_.Outstanding(i);
  }
  return nullptr;
}

FileSlot* RemoteFileAccess::UnansweredRead(uint32_t offset) {
  for (size_t i = 0; i < window_.count(); ++i) {
    FileSlot& slot = window_.Outstanding(i);
    if (slot.offset == offset && !slot.arrived) return &slot;
  }
  return nullptr;
}

bool RemoteFileAccess::HasUnansweredReads() {
  for (size_t i = 0; i < window_.count(); ++i) {
    if (!window_.Outstanding(i).arrived) return true;
  }
  return false;
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

RemoteFileAccess::ReadWait RemoteFileAccess::ReceiveIntoWindow(const FileRef& ref) {
  ReadReply reply;
  const Arrival arrival = ReceiveReadReply(link_, reply);
  if (arrival == Arrival::kNothing) return ReadWait::kNothing;
  FileSlot* slot =
      arrival == Arrival::kPacket && reply.IsFor(ref) ? UnansweredRead(reply.offset) : nullptr;
  if (slot == nullptr) return ReadWait::kStray;
  if (reply.length == ReadReply::kFlashFailed) {
    link_.runtime.out.Print(
        Sink::kInfo, "\r\nUnit reported hardware failure, cannot read from flash drive. Address=$",
        Hex(reply.offset, 8), "\r\n");
    return ReadWait::kFlashFailed;
  }
  if (reply.length > kFileBlockSize) return ReadWait::kStray;
  std::copy_n(reply.data.begin(), reply.length, slot->data.begin());
  slot->length = reply.length;
  slot->arrived = true;
  return ReadWait::kStored;
}

bool RemoteFileAccess::AwaitRead(const FileRef& ref, uint32_t offset) {
  Output& out = link_.runtime.out;
  int missing = 0;
  int strays = 0;
  for (;;) {
    const FileSlot* wanted = OutstandingRead(offset);
    if (wanted == nullptr) return false;
    if (wanted->arrived) return true;
    switch (ReceiveIntoWindow(ref)) {
      case ReadWait::kStored:
        break;
      case ReadWait::kFlashFailed:
        return false;
      case ReadWait::kNothing:
        out.Print(Sink::kDebug, "READ MISSING FOR ", Hex(offset, 8), Hex(ref.drive, 2), ".",
                  Hex(ref.file, 4), "\r\n");
        if (++missing >= kReadTries) {
          TraceFailed(out);
          return false;
        }
        SendReadRequest(link_, ref, offset);
        break;
      case ReadWait::kStray:
        if (TooManyStrays(out, strays)) return false;
        break;
    }
  }
}

bool RemoteFileAccess::MakeRoomFor(const FileRef& ref, uint32_t offset) {
  // The reads asked for before the position moved (the blocks past a short
  // one) are still the unit's to answer: they keep their places in the
  // window until their replies come, so that the unit never has more than
  // 8 in hand. Their data is not wanted. A receive timeout without any of
  // them answered means they are lost, and they cost no more than that.
  int strays = 0;
  while (OutstandingRead(offset) == nullptr && window_.MustRetire(kFileWindowLimit)) {
    if (window_.tailSlot().arrived) {
      window_.Retire();
      continue;
    }
    switch (ReceiveIntoWindow(ref)) {
      case ReadWait::kStored:
        break;
      case ReadWait::kFlashFailed:
        return false;
      case ReadWait::kNothing:
        window_ = FileWindow();
        return true;
      case ReadWait::kStray:
        if (TooManyStrays(link_.runtime.out, strays)) return false;
        break;
    }
  }
  return true;
}

bool RemoteFileAccess::ReadFileRemote(uint8_t address, uint8_t drive, uint16_t file,
                                      uint32_t offset, uint8_t& length, uint8_t* data) {
  const FileRef ref{address, drive, file};
  if (OutstandingRead(offset) == nullptr) {
    // A position the reads ahead did not ask for (the one after a short
    // block, or a caller that skips): the reads ahead go on from it.
    readPosition_ = offset;
    if (!MakeRoomFor(ref, offset)) return false;
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
  // The replies still to come are taken in, so that none is taken for the
  // answer to what follows; none is asked for again (nobody wants its
  // data), and a receive timeout without one ends the wait: the end of a
  // file costs one timeout at most.
  bool finished = true;
  int strays = 0;
  while (finished && HasUnansweredReads()) {
    const ReadWait wait = ReceiveIntoWindow(ref);
    if (wait == ReadWait::kNothing) break;
    if (wait == ReadWait::kFlashFailed) finished = false;
    if (wait == ReadWait::kStray && TooManyStrays(link_.runtime.out, strays)) finished = false;
  }
  window_ = FileWindow();
  return finished;
}

}  // namespace kel
