#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "link/link_state.h"

namespace kel {

class Output;

/// The payload of one command-service request: address, 0x45, command
/// (big-endian), then the arguments. Multi-byte arguments are big-endian.
class RpcRequest {
 public:
  RpcRequest(uint8_t address, uint16_t command);

  RpcRequest& U8(uint8_t value);
  RpcRequest& U16(uint16_t value);
  RpcRequest& U32(uint32_t value);
  RpcRequest& Bytes(const uint8_t* data, size_t count);

  uint8_t address() const { return bytes_[0]; }
  uint16_t command() const { return static_cast<uint16_t>(bytes_[2] << 8 | bytes_[3]); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

/// The reading side of one reply, after its four echoed header bytes. Reads
/// past the received data give 0 (and make the exchange invalid).
class RpcReply {
 public:
  RpcReply(PacketLayer& packets, bool received) : packets_(packets), received_(received) {}

  /// Receives `count` more payload bytes of a reply whose length a field
  /// announced. False when they did not all arrive (then nothing more is
  /// received for this reply).
  bool Receive(size_t count);
  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  void Read(uint8_t* out, size_t count);
  void Skip(size_t count);
  bool received() const { return received_; }

 private:
  PacketLayer& packets_;
  bool received_;
};

/// How a call's reply arrives.
struct RpcShape {
  /// Reply payload bytes including the four echoed header bytes; for a
  /// `partial` reply, the fixed head only (the fields reader receives the rest).
  size_t replySize = 4;
  bool partial = false;
  /// Send with the 0xF1 length header.
  bool lengthFrame = false;
  /// Wait for the request to leave the port before listening (large
  /// requests, whose reply must not be timed from a half-sent frame).
  bool flushWrites = false;
};

/// The four bytes every reply begins with, as received.
struct ReplyHead {
  uint8_t address = 0;
  uint8_t service = 0;
  uint16_t command = 0;
};

/// Reads a reply's fields after the header. Returns false when an echoed
/// argument differs from the request's; it must still read every byte.
using ReplyFields = std::function<bool(RpcReply&)>;

/// One exchange: sends `request`, receives the reply, reads the echoed
/// header and the fields, ends with CheckReply. True when the reply is
/// valid: CheckReply true, same address, service 0x45, same command, and
/// `fields` content with the echoed arguments.
bool RpcAttempt(Link& link, const RpcRequest& request, const RpcShape& shape,
                const ReplyFields& fields = {}, ReplyHead* head = nullptr);

/// Sends `request` without waiting for its reply: the windowed transfers
/// keep several requests in flight and match the echoes afterwards.
void SendRpcRequest(Link& link, const RpcRequest& request, bool lengthFrame = false);

/// Receives one reply of `size` payload bytes sent for an earlier request:
/// the head into `head`, the rest through `fields` (which must read every
/// byte). True when it arrived whole, its CRC was good and it was read
/// exactly (CheckReply); judging the head and fields is the caller's.
bool ReceiveRpcReply(Link& link, size_t size, ReplyHead& head,
                     const std::function<void(RpcReply&)>& fields);

/// Up to `attempts` exchanges until one is valid, without any trace. No
/// pause between attempts: each receive timeout paces the retries.
bool RpcRetry(Link& link, const RpcRequest& request, const RpcShape& shape, int attempts,
              const ReplyFields& fields = {});

/// The calling convention without the result line: prints "RPC: " + `name`,
/// makes up to `attempts` exchanges, and prints "FAILED" when none was
/// valid. The caller prints "COMPLETE" with its results on success.
bool CallRpc(Link& link, std::string_view name, const RpcRequest& request, const RpcShape& shape,
             int attempts, const ReplyFields& fields = {});

/// Trace lines of the calling convention, on DebugSink.
void TraceRpc(Output& out, std::string_view name);
void TraceComplete(Output& out);
void TraceFailed(Output& out);

}  // namespace kel
