#include "unit/rpc_files.h"

#include <string>

#include "runtime/output.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/rpc_call.h"
#include "unit/rpc_codes.h"

namespace kel {

namespace {

constexpr int kDebugLogAttempts = 4;
constexpr int kFileAttempts = 8;

std::string FileTrace(const char* name, uint8_t address, uint8_t drive, uint16_t file) {
  return std::string(name) + " FileNo=" + Hex(file, 4) + " DriveNo=" + Hex(drive, 2) + " in Unit " +
         std::to_string(address);
}

// Reads the echoed drive and file; false when they are not the request's.
bool EchoedFile(RpcReply& reply, uint8_t drive, uint16_t file) {
  const uint8_t replyDrive = reply.U8();
  const uint16_t replyFile = reply.U16();
  return replyDrive == drive && replyFile == file;
}

bool ResultCall(Link& link, const char* name, uint8_t address, uint8_t drive, uint16_t file,
                const RpcRequest& request, uint8_t& result) {
  uint8_t replyResult = 0;
  if (!CallRpc(link, FileTrace(name, address, drive, file), request, {8}, kFileAttempts,
               [&](RpcReply& reply) {
                 const bool echoed = EchoedFile(reply, drive, file);
                 replyResult = reply.U8();
                 return echoed;
               })) {
    return false;
  }
  result = replyResult;
  link.runtime.out.Print(Sink::kDebug, "COMPLETE: Result=", Hex(result, 2), "\r\n");
  return true;
}

bool SimpleFileCall(Link& link, const char* name, uint16_t command, uint8_t address, uint8_t drive,
                    uint16_t file, uint8_t& result) {
  RpcRequest request(address, command);
  request.U8(drive).U16(file);
  return ResultCall(link, name, address, drive, file, request, result);
}

}  // namespace

bool GetDebugLogs(Link& link, const UnitInfo& unit, std::vector<uint16_t>& fileNumbers) {
  if (unit.connectionMode != modeApplication) return false;
  std::vector<uint16_t> numbers;
  uint8_t count = 0;
  RpcRequest request(unit.unitAddress, rpc::kGetDebugLogs);
  // The whole reply is taken in even when it is too long, so that its bytes
  // cannot be mistaken for the reply to the next request.
  if (!CallRpc(link, "GetDebugLogs", request, {5, true}, kDebugLogAttempts, [&](RpcReply& reply) {
        count = reply.U8();
        reply.Receive(2u * count);
        numbers.clear();
        for (int i = 0; i < count; ++i) numbers.push_back(reply.U16());
        return true;
      })) {
    return false;
  }
  if (count > kMaxDebugLogs) {
    link.runtime.out.Print(Sink::kInfo, "Too many file ids\r\n");
    return false;
  }
  fileNumbers = numbers;
  link.runtime.out.Print(Sink::kDebug, "COMPLETE: ", count, " file id(s)\r\n");
  return true;
}

namespace rpc {

bool OpenFile(Link& link, uint8_t address, uint8_t drive, uint16_t file, uint8_t& result) {
  return SimpleFileCall(link, "OpenFile", kOpenFile, address, drive, file, result);
}

bool CreateFile(Link& link, uint8_t address, uint8_t drive, uint16_t file, uint8_t& result) {
  return SimpleFileCall(link, "CreateFile", kCreateFile, address, drive, file, result);
}

bool CloseFile(Link& link, uint8_t address, uint8_t drive, uint16_t file, uint8_t& result) {
  return SimpleFileCall(link, "CloseFile", kCloseFile, address, drive, file, result);
}

bool SetFileProperties(Link& link, uint8_t address, uint8_t drive, uint16_t file,
                       const std::vector<uint8_t>& properties, uint8_t& result) {
  // The length travels in one byte; a longer block would be cut short on
  // the wire, so only what the byte can announce is sent.
  const size_t length = properties.size() > 255 ? 255 : properties.size();
  RpcRequest request(address, kSetFileProperties);
  request.U8(drive).U16(file).U8(static_cast<uint8_t>(length)).Bytes(properties.data(), length);
  return ResultCall(link, "SetFileProperties", address, drive, file, request, result);
}

bool GetFileAttributes(Link& link, uint8_t address, uint8_t drive, uint16_t file, uint32_t newSize,
                       FileAttributes& attributes) {
  FileAttributes read;
  RpcRequest request(address, kGetFileAttributes);
  request.U8(drive).U16(file).U32(newSize);
  if (!CallRpc(link, FileTrace("GetFileAttributes", address, drive, file), request, {29, true},
               kFileAttempts, [&read, drive, file](RpcReply& reply) {
                 const bool echoed = EchoedFile(reply, drive, file);
                 read.result = reply.U8();
                 read.size = reply.U32();
                 for (uint32_t& checksum : read.checksums) checksum = reply.U32();
                 const uint8_t length = reply.U8();
                 reply.Receive(length);
                 read.properties.resize(length);
                 reply.Read(read.properties.data(), length);
                 return echoed;
               })) {
    return false;
  }
  attributes = read;
  Output& out = link.runtime.out;
  out.Print(Sink::kDebug, "COMPLETE: Result=", Hex(read.result, 2), " FileSize=", read.size);
  for (int i = 0; i < 4; ++i) {
    out.Print(Sink::kDebug, " Checksum", i + 1, "=", Hex(read.checksums[i], 8));
  }
  out.Print(Sink::kDebug, "Properties Length=", read.properties.size(), "\r\n");
  return true;
}

bool ReadFileBlock(Link& link, uint8_t address, uint8_t drive, uint16_t file, uint32_t offset,
                   uint8_t maxLength, uint8_t& count, std::vector<uint8_t>& data) {
  uint8_t replyCount = 0;
  std::vector<uint8_t> bytes;
  RpcRequest request(address, kReadFileBlock);
  request.U8(drive).U16(file).U32(offset).U8(maxLength);
  if (!CallRpc(link, FileTrace("ReadFileBlock", address, drive, file), request, {12, true},
               kFileAttempts, [&](RpcReply& reply) {
                 const bool echoed = EchoedFile(reply, drive, file);
                 const uint32_t replyOffset = reply.U32();
                 replyCount = reply.U8();
                 bytes.clear();
                 // Data follows only when the count is within what was asked;
                 // 0xFF (flash failure) and other counts carry none.
                 if (replyCount <= maxLength) {
                   reply.Receive(replyCount);
                   bytes.resize(replyCount);
                   reply.Read(bytes.data(), replyCount);
                 }
                 return echoed && replyOffset == offset;
               })) {
    return false;
  }
  count = replyCount;
  data = bytes;
  TraceComplete(link.runtime.out);
  return true;
}

}  // namespace rpc

}  // namespace kel
