#include "sim/file_services.h"

#include <algorithm>

#include "sim/role_reply.h"
#include "sim/sim_unit.h"
#include "sim/wire_bytes.h"

namespace kel::sim {

namespace {

constexpr uint8_t kBlockService = 0x47;      // "G"
constexpr uint8_t kFastBlockService = 0x48;  // "H"
constexpr uint8_t kFastMarker = 0x04;        // low four bits of the byte after "H"
constexpr uint8_t kWriteBlock = '2';
constexpr uint8_t kReadRequest = '0';
constexpr uint8_t kReadReply = '1';
constexpr uint8_t kAcknowledged = '3';
constexpr uint8_t kNegative = '4';
constexpr uint8_t kReadFailed = 0xFF;
constexpr uint32_t kBlockMs = 1;

SimReply FileReply(std::vector<uint8_t> payload, bool lengthFramed = false) {
  return MakeReply(std::move(payload), kBlockMs, lengthFramed);
}

// The drive byte and file number of a request, from `at` on (checked by the
// caller against the payload size).
struct FileRef {
  uint8_t drive;
  uint16_t file;
};
FileRef FileAt(const std::vector<uint8_t>& payload, size_t at) {
  return {payload[at], ReadBe16(payload, at + 1)};
}

// Head of the RPC replies: address, 0x45, command, drive, file.
std::vector<uint8_t> FileHead(const std::vector<uint8_t>& payload) { return EchoHead(payload, 7); }

void ReplyResult(const std::vector<uint8_t>& payload, uint8_t result, SimReplies& replies) {
  std::vector<uint8_t> out = FileHead(payload);
  out.push_back(result);
  replies.push_back(FileReply(std::move(out)));
}

bool HandleOpenOrCreate(SimUnit& unit, const std::vector<uint8_t>& payload, bool create,
                        SimReplies& replies) {
  if (payload.size() != 7) return false;
  const auto [drive, file] = FileAt(payload, 4);
  uint8_t result = FileStore::kResultOk;
  if (!unit.files.HasDrive(drive)) {
    result = FileStore::kResultNoDrive;
  } else if (create) {
    result = unit.hardwareFailure != 0 ? unit.hardwareFailure : FileStore::kResultOk;
    if (result == FileStore::kResultOk) unit.files.Create(drive, file);
  } else if (unit.files.Find(drive, file) == nullptr) {
    result = FileStore::kResultNoFile;
  }
  // A new open replaces whatever was open before, as the unit has one file
  // handle for the remote services.
  unit.files.open = OpenFileState();
  if (result == FileStore::kResultOk) {
    unit.files.open.mode = create ? OpenFileState::Mode::kWriting : OpenFileState::Mode::kReading;
    unit.files.open.drive = drive;
    unit.files.open.file = file;
  }
  ReplyResult(payload, result, replies);
  return true;
}

bool HandleClose(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  if (payload.size() != 7) return false;
  const auto [drive, file] = FileAt(payload, 4);
  const OpenFileState& open = unit.files.open;
  if (open.mode != OpenFileState::Mode::kClosed && open.drive == drive && open.file == file) {
    unit.files.open = OpenFileState();
  }
  const uint8_t result =
      unit.files.Find(drive, file) != nullptr ? FileStore::kResultOk : FileStore::kResultNoFile;
  ReplyResult(payload, result, replies);
  return true;
}

bool HandleSetProperties(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  if (payload.size() < 8) return false;
  const size_t length = payload[7];
  if (payload.size() != 8 + length) return false;
  const auto [drive, file] = FileAt(payload, 4);
  uint8_t result = unit.hardwareFailure;
  if (result == 0 && length > kMaxPropertiesSize) result = FileStore::kResultFull;
  if (result == 0 && !unit.files.SetProperties(
                         drive, file, std::vector<uint8_t>(payload.begin() + 8, payload.end()))) {
    result = FileStore::kResultNoFile;
  }
  ReplyResult(payload, result, replies);
  return true;
}

// Reads are served only from the file OpenFile opened for reading.
bool OpenForReading(const SimUnit& unit, uint8_t drive, uint16_t file) {
  const OpenFileState& open = unit.files.open;
  return open.mode == OpenFileState::Mode::kReading && open.drive == drive && open.file == file;
}

bool HandleReadBlock(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  if (payload.size() != 12) return false;
  const auto [drive, file] = FileAt(payload, 4);
  if (!OpenForReading(unit, drive, file)) return false;
  const uint32_t offset = ReadBe32(payload, 7);
  const size_t wanted = std::min<size_t>(payload[11], kFileBlockSize);
  std::vector<uint8_t> out = EchoHead(payload, 11);
  if (unit.hardwareFailure != 0) {
    out.push_back(kReadFailed);
  } else {
    const std::vector<uint8_t> data = unit.files.ReadAt(drive, file, offset, wanted);
    out.push_back(static_cast<uint8_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
  }
  replies.push_back(FileReply(std::move(out)));
  return true;
}

bool HandleAttributes(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  if (payload.size() != 11) return false;
  const auto [drive, file] = FileAt(payload, 4);
  SimFileAttributes attributes;
  const bool found = unit.files.Attributes(drive, file, attributes);
  std::vector<uint8_t> out = FileHead(payload);
  out.push_back(found ? FileStore::kResultOk : FileStore::kResultNoFile);
  AppendBe32(out, attributes.size);
  AppendBe32(out, attributes.checksum1);
  AppendBe32(out, attributes.checksum2);
  AppendBe32(out, attributes.checksum3);
  AppendBe32(out, attributes.checksum4);
  const size_t length = std::min<size_t>(attributes.properties.size(), kMaxPropertiesSize);
  out.push_back(static_cast<uint8_t>(length));
  out.insert(out.end(), attributes.properties.begin(),
             attributes.properties.begin() + static_cast<std::ptrdiff_t>(length));
  replies.push_back(FileReply(std::move(out)));
  return true;
}

std::vector<uint8_t> Acknowledgement(uint8_t address, uint8_t status, uint8_t drive, uint16_t file,
                                     uint32_t offset, uint8_t length, uint8_t result) {
  std::vector<uint8_t> out{address, kBlockService, status, drive};
  AppendBe16(out, file);
  AppendBe32(out, offset);
  out.push_back(length);
  out.push_back(result);
  return out;
}

// `body` is the index of the drive byte: 3 in the "G" form, 4 in the "H" form.
bool HandleWriteBlock(SimUnit& unit, const std::vector<uint8_t>& payload, size_t body,
                      SimReplies& replies) {
  if (payload.size() < body + 8) return false;
  const auto [drive, file] = FileAt(payload, body);
  const uint32_t offset = ReadBe32(payload, body + 3);
  const uint8_t length = payload[body + 7];
  if (length > kFileBlockSize || payload.size() != body + 8 + length) return false;
  OpenFileState& open = unit.files.open;
  const uint8_t address = payload[0];
  const bool writing =
      open.mode == OpenFileState::Mode::kWriting && open.drive == drive && open.file == file;
  if (!writing || offset > open.acknowledged) {
    // Not open for writing, or a block is missing before this one.
    replies.push_back(
        FileReply(Acknowledgement(address, kNegative, drive, file, offset, length, 0), true));
    return true;
  }
  if (offset < open.acknowledged) {
    // Received before (its acknowledgement was lost): confirm what we hold.
    replies.push_back(
        FileReply(Acknowledgement(address, kAcknowledged, drive, file, open.lastBlockOffset, length, 0),
              true));
    return true;
  }
  uint8_t result = unit.hardwareFailure;
  if (result == 0 && !unit.files.WriteAt(drive, file, offset, payload.data() + body + 8, length)) {
    result = FileStore::kResultFull;
  }
  if (result == 0) {
    open.acknowledged = offset + length;
    open.lastBlockOffset = offset;
    open.highSpeed = body == 4;
  }
  replies.push_back(
      FileReply(Acknowledgement(address, kAcknowledged, drive, file, offset, length, result), true));
  return true;
}

bool HandleReadRequest(SimUnit& unit, const std::vector<uint8_t>& payload, size_t body,
                       SimReplies& replies) {
  if (payload.size() != body + 8) return false;
  const auto [drive, file] = FileAt(payload, body);
  if (!OpenForReading(unit, drive, file)) return false;
  const uint32_t offset = ReadBe32(payload, body + 3);
  const size_t wanted = std::min<size_t>(payload[body + 7], kFileBlockSize);
  std::vector<uint8_t> out = EchoHead(payload, body);
  out.back() = kReadReply;
  out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(body),
             payload.begin() + static_cast<std::ptrdiff_t>(body + 7));
  if (unit.hardwareFailure != 0) {
    out.push_back(kReadFailed);
  } else {
    const std::vector<uint8_t> data = unit.files.ReadAt(drive, file, offset, wanted);
    out.push_back(static_cast<uint8_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
  }
  replies.push_back(FileReply(std::move(out), true));
  return true;
}

bool HandleBlock(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  size_t body = 3;
  if (payload[1] == kFastBlockService) {
    // Application software before 6.04 does not know the "H" form.
    if (unit.role == SimRole::kApplication && unit.softwareVersion < kFastBlocksFromVersion)
      return false;
    if (payload.size() < 4 || (payload[2] & 0x0F) != kFastMarker) return false;
    body = 4;
  }
  switch (payload[body - 1]) {
    case kWriteBlock:
      return HandleWriteBlock(unit, payload, body, replies);
    case kReadRequest:
      return HandleReadRequest(unit, payload, body, replies);
    default:
      return false;
  }
}

}  // namespace

bool HandleFileRequest(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies) {
  if (payload.size() < 3) return false;
  if (payload[1] == kBlockService || payload[1] == kFastBlockService)
    return HandleBlock(unit, payload, replies);
  if (payload.size() < 4 || payload[1] != kCommandService || payload[2] != 0x10) return false;
  switch (payload[3]) {
    case 0x26:
      return HandleOpenOrCreate(unit, payload, false, replies);
    case 0x29:
      return HandleOpenOrCreate(unit, payload, true, replies);
    case 0x27:
      return HandleReadBlock(unit, payload, replies);
    case 0x2B:
      return HandleSetProperties(unit, payload, replies);
    case 0x2C:
      return HandleClose(unit, payload, replies);
    case 0x2F:
      return HandleAttributes(unit, payload, replies);
    default:
      return false;
  }
}

}  // namespace kel::sim
