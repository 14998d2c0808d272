#include "unit/rpc_call.h"

#include "link/packet_layer.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "unit/rpc_codes.h"

namespace kel {

RpcRequest::RpcRequest(uint8_t address, uint16_t command) {
  bytes_ = {address, service::kCommand, static_cast<uint8_t>(command >> 8),
            static_cast<uint8_t>(command & 0xFF)};
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

bool RpcAttempt(Link& link, const RpcRequest& request, const RpcShape& shape,
                const ReplyFields& fields) {
  PacketLayer& packets = link.packets;
  const std::vector<uint8_t>& bytes = request.bytes();
  packets.StartRequest();
  for (uint8_t b : bytes) packets.PutPacketByte(b);
  if (shape.lengthFrame) {
    packets.SendLengthFramePacket(bytes.size());
  } else {
    packets.SendPacket(bytes.size());
  }

  bool received = shape.partial ? packets.RecvPartialPacket(shape.replySize)
                                : packets.RecvPacket(shape.replySize);
  RpcReply reply(packets, received);
  const uint8_t address = reply.U8();
  const uint8_t serviceCode = reply.U8();
  const uint16_t command = reply.U16();
  const bool headerMatches = address == request.address() && serviceCode == service::kCommand &&
                             command == request.command();
  bool fieldsMatch = true;
  // A reply from the wrong exchange announces lengths that mean nothing;
  // following them would only wait out timeouts for bytes that never come.
  if (fields && received && (headerMatches || !shape.partial)) fieldsMatch = fields(reply);
  const bool checked = packets.CheckReply();
  return checked && received && headerMatches && fieldsMatch;
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
