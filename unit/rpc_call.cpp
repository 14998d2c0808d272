#include "unit/rpc_call.h"

#include "link/comm_port.h"
#include "link/packet_layer.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "unit/rpc_codes.h"

namespace kel {

RpcRequest::RpcRequest(uint8_t address, uint16_t command) {
  // Room for the head, the usual fields and a block of 128 data bytes at
  // once: most requests are made and sent without growing.
  bytes_.reserve(4 + 12 + 128);
  bytes_.insert(bytes_.end(), {address, service::kCommand, static_cast<uint8_t>(command >> 8),
                               static_cast<uint8_t>(command & 0xFF)});
}

RpcRequest& RpcRequest::U8(uint8_t value) {
  bytes_.push_back(value);
  return *this;
}

RpcRequest& RpcRequest::U16(uint16_t value) {
  bytes_.push_back(static_cast<uint8_t>(value >> 8));
  bytes_.push_back(static_cast<uint8_t>(value & 0xFF));
  return *this;
}

RpcRequest& RpcRequest::U32(uint32_t value) {
  U16(static_cast<uint16_t>(value >> 16));
  return U16(static_cast<uint16_t>(value & 0xFFFF));
}

RpcRequest& RpcRequest::Bytes(const uint8_t* data, size_t count) {
  bytes_.insert(bytes_.end(), data, data + count);
  return *this;
}

bool RpcReply::Receive(size_t count) {
  if (!received_) return false;
  if (count == 0) return true;
  received_ = packets_.RecvPartialPacket(count);
  return received_;
}

uint8_t RpcReply::U8() { return packets_.NextReplyByte(); }

uint16_t RpcReply::U16() {
  uint16_t high = U8();
  return static_cast<uint16_t>(high << 8 | U8());
}

uint32_t RpcReply::U32() {
  uint32_t high = U16();
  return high << 16 | U16();
}

void RpcReply::Read(uint8_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = U8();
}

void RpcReply::Skip(size_t count) {
  for (size_t i = 0; i < count; ++i) U8();
}

void SendRpcRequest(Link& link, const RpcRequest& request, bool lengthFrame) {
  PacketLayer& packets = link.packets;
  const std::vector<uint8_t>& bytes = request.bytes();
  packets.StartRequest();
  packets.PutPacketBytes(bytes.data(), bytes.size());
  if (lengthFrame) {
    packets.SendLengthFramePacket(bytes.size());
  } else {
    packets.SendPacket(bytes.size());
  }
}

namespace {

ReplyHead ReadHead(RpcReply& reply) {
  ReplyHead head;
  head.address = reply.U8();
  head.service = reply.U8();
  head.command = reply.U16();
  return head;
}

}  // namespace

bool RpcAttempt(Link& link, const RpcRequest& request, const RpcShape& shape,
                const ReplyFields& fields, ReplyHead* head) {
  PacketLayer& packets = link.packets;
  SendRpcRequest(link, request, shape.lengthFrame);
  if (shape.flushWrites) link.port.FlushPendingWrites();

  bool received = shape.partial ? packets.RecvPartialPacket(shape.replySize)
                                : packets.RecvPacket(shape.replySize);
  RpcReply reply(packets, received);
  const ReplyHead got = ReadHead(reply);
  if (head) *head = got;
  const bool headerMatches = got.address == request.address() && got.service == service::kCommand &&
                             got.command == request.command();
  bool fieldsMatch = true;
  // A reply from the wrong exchange announces lengths that mean nothing;
  // following them would only wait out timeouts for bytes that never come.
  if (fields && received && (headerMatches || !shape.partial)) fieldsMatch = fields(reply);
  const bool checked = packets.CheckReply();
  return checked && received && headerMatches && fieldsMatch;
}

bool ReceiveRpcReply(Link& link, size_t size, ReplyHead& head,
                     const std::function<void(RpcReply&)>& fields) {
  PacketLayer& packets = link.packets;
  const bool received = packets.RecvPacket(size);
  RpcReply reply(packets, received);
  head = ReadHead(reply);
  if (fields) fields(reply);
  return packets.CheckReply() && received;
}

bool RpcRetry(Link& link, const RpcRequest& request, const RpcShape& shape, int attempts,
              const ReplyFields& fields) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (RpcAttempt(link, request, shape, fields)) return true;
  }
  return false;
}

bool CallRpc(Link& link, std::string_view name, const RpcRequest& request, const RpcShape& shape,
             int attempts, const ReplyFields& fields) {
  TraceRpc(link.runtime.out, name);
  if (RpcRetry(link, request, shape, attempts, fields)) return true;
  TraceFailed(link.runtime.out);
  return false;
}

void TraceRpc(Output& out, std::string_view name) {
  out.Print(Sink::kDebug, "RPC: ", name, "\r\n");
}

void TraceComplete(Output& out) { out.Print(Sink::kDebug, "COMPLETE\r\n"); }

void TraceFailed(Output& out) { out.Print(Sink::kDebug, "FAILED\r\n"); }

}  // namespace kel
