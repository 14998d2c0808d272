#include "files/remote_file_access.h"

#include <algorithm>

#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/rpc_call.h"

namespace kel {

namespace {

// A properties block must leave room in the unit's record for its header.
constexpr size_t kMaxPropertiesSize = 239;

}  // namespace

bool RemoteFileAccess::HighSpeedBlocks() const {
  // The connected unit relays "H" blocks only when its own software took
  // them at connection, whichever unit the file is in.
  return highSpeed_ && link_.state.software604OrLater;
}

void RemoteFileAccess::Begin(bool highSpeed) {
  // A new open discards whatever was in flight without waiting for it.
  window_ = FileWindow();
  readPosition_ = 0;
  highSpeed_ = highSpeed;
}

bool RemoteFileAccess::Open(bool create, uint8_t address, uint8_t drive, uint16_t file,
                            bool highSpeed, uint8_t& result) {
  link_.runtime.out.Print(Sink::kDebug, "-- remote file access window size = ", kFileWindowLimit,
                          "\r\n");
  Begin(highSpeed);
  const bool done = create ? rpc::CreateFile(link_, address, drive, file, result)
                           : rpc::OpenFile(link_, address, drive, file, result);
  if (!done) return false;
  reading_ = !create && result == 0;
  writing_ = create && result == 0;
  return true;
}

bool RemoteFileAccess::OpenFile(uint8_t address, uint8_t drive, uint16_t file, bool highSpeed,
                                uint8_t& result) {
  return Open(false, address, drive, file, highSpeed, result);
}

bool RemoteFileAccess::CreateFile(uint8_t address, uint8_t drive, uint16_t file, bool highSpeed,
                                  uint8_t& result) {
  return Open(true, address, drive, file, highSpeed, result);
}

bool RemoteFileAccess::CloseFile(uint8_t address, uint8_t drive, uint16_t file, uint8_t& result) {
  Output& out = link_.runtime.out;
  const FileRef ref{address, drive, file};
  bool finished = true;
  if (reading_) {
    finished = FinishReads(ref);
  } else if (writing_) {
    uint8_t writeResult = 0;
    finished = AwaitAcknowledgements(ref, window_.count(), writeResult);
    if (!finished) out.Print(Sink::kDebug, "OverlappedWriteFinish failed\r\n");
  } else {
    out.Print(Sink::kDebug, "ERROR: not open\r\n");
  }
  window_ = FileWindow();
  reading_ = false;
  writing_ = false;
  // The close goes out whatever happened, so the unit lets go of the file;
  // a close that is not answered is a failure too, not a success.
  const bool closed = rpc::CloseFile(link_, address, drive, file, result);
  return finished && closed;
}

bool RemoteFileAccess::GetFileAttributes(uint8_t address, uint8_t drive, uint16_t file,
                                         uint32_t newSize, FileAttributes& attributes) {
  return rpc::GetFileAttributes(link_, address, drive, file, newSize, attributes);
}

bool RemoteFileAccess::SetFileProperties(uint8_t address, uint8_t drive, uint16_t file,
                                         const std::vector<uint8_t>& properties, uint8_t& result) {
  if (properties.size() > kMaxPropertiesSize) link_.runtime.AssertFailed(__FILE__, __LINE__);
  return rpc::SetFileProperties(link_, address, drive, file, properties, result);
}

bool RemoteFileAccess::ReadFileBlock(uint8_t address, uint8_t drive, uint16_t file, uint32_t offset,
                                     uint8_t& length, uint8_t* data) {
  const uint8_t wanted = std::min(length, kFileBlockSize);
  uint8_t count = 0;
  std::vector<uint8_t> bytes;
  if (!rpc::ReadFileBlock(link_, address, drive, file, offset, wanted, count, bytes)) return false;
  if (count == ReadReply::kFlashFailed) {
    link_.runtime.out.Print(
        Sink::kInfo, "\r\nUnit reported hardware failure, cannot read from flash drive. Address=$",
        Hex(offset, 8), "\r\n");
    return false;
  }
  // A count beyond what was asked carries no data: the read went wrong.
  if (count > wanted || bytes.size() != count) return false;
  length = count;
  std::copy_n(bytes.begin(), count, data);
  return true;
}

}  // namespace kel
