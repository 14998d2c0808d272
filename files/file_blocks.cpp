#include "files/file_blocks.h"

#include "link/packet_layer.h"
#include "unit/rpc_codes.h"

namespace kel {

namespace {

constexpr uint8_t kHighSpeedMarker = 0x04;  // low four bits of the byte after "H"
constexpr uint8_t kWriteBlock = '2';
constexpr uint8_t kReadRequest = '0';
constexpr size_t kAckSize = 12;
constexpr size_t kReadReplyHead = 11;  // up to and including the length, "G" form

void Put16(PacketLayer& packets, uint16_t value) {
  packets.PutPacketByte(static_cast<uint8_t>(value >> 8));
  packets.PutPacketByte(static_cast<uint8_t>(value & 0xFF));
}

void Put32(PacketLayer& packets, uint32_t value) {
  Put16(packets, static_cast<uint16_t>(value >> 16));
  Put16(packets, static_cast<uint16_t>(value & 0xFFFF));
}

uint16_t Next16(PacketLayer& packets) {
  const uint16_t high = packets.NextReplyByte();
  return static_cast<uint16_t>(high << 8 | packets.NextReplyByte());
}

uint32_t Next32(PacketLayer& packets) {
  const uint32_t high = Next16(packets);
  return high << 16 | Next16(packets);
}

// Drive, file and offset: the part every block and reply carries.
void PutPosition(PacketLayer& packets, const FileRef& ref, uint32_t offset) {
  packets.PutPacketByte(ref.drive);
  Put16(packets, ref.file);
  Put32(packets, offset);
}

}  // namespace

void SendWriteBlock(Link& link, const FileRef& ref, bool highSpeed, uint32_t offset,
                    const uint8_t* data, uint8_t length) {
  PacketLayer& packets = link.packets;
  packets.StartRequest();
  packets.PutPacketByte(ref.address);
  if (highSpeed) {
    packets.PutPacketByte(service::kFileDataAck);
    packets.PutPacketByte(kHighSpeedMarker);
  } else {
    packets.PutPacketByte(service::kFileData);
  }
  packets.PutPacketByte(kWriteBlock);
  PutPosition(packets, ref, offset);
  packets.PutPacketByte(length);
  packets.PutPacketBytes(data, length);
  packets.SendLengthFramePacket(packets.writeCount());
}

void SendReadRequest(Link& link, const FileRef& ref, uint32_t offset) {
  PacketLayer& packets = link.packets;
  packets.StartRequest();
  packets.PutPacketByte(ref.address);
  packets.PutPacketByte(service::kFileData);
  packets.PutPacketByte(kReadRequest);
  PutPosition(packets, ref, offset);
  packets.PutPacketByte(kFileBlockSize);
  packets.SendLengthFramePacket(packets.writeCount());
}

bool WriteAck::IsFor(const FileRef& ref) const {
  return service == service::kFileData && drive == ref.drive && file == ref.file;
}

bool ReadReply::IsFor(const FileRef& ref) const {
  return (service == service::kFileData || service == service::kFileDataAck) && status == kReply &&
         drive == ref.drive && file == ref.file;
}

Arrival ReceiveWriteAck(Link& link, WriteAck& ack) {
  PacketLayer& packets = link.packets;
  if (!packets.RecvPacket(kAckSize)) return Arrival::kNothing;
  packets.NextReplyByte();  // the unit's address
  ack.service = packets.NextReplyByte();
  ack.status = packets.NextReplyByte();
  ack.drive = packets.NextReplyByte();
  ack.file = Next16(packets);
  ack.offset = Next32(packets);
  packets.NextReplyByte();  // not examined
  ack.result = packets.NextReplyByte();
  return packets.CheckReply() ? Arrival::kPacket : Arrival::kDamaged;
}

Arrival ReceiveReadReply(Link& link, ReadReply& reply) {
  PacketLayer& packets = link.packets;
  if (!packets.RecvPartialPacket(kReadReplyHead)) return Arrival::kNothing;
  packets.NextReplyByte();  // the unit's address
  reply.service = packets.NextReplyByte();
  // The "H" form has its marker byte before the status: one byte more.
  if (reply.service == service::kFileDataAck) {
    packets.NextReplyByte();
    if (!packets.RecvPartialPacket(1)) return Arrival::kNothing;
  }
  reply.status = packets.NextReplyByte();
  reply.drive = packets.NextReplyByte();
  reply.file = Next16(packets);
  reply.offset = Next32(packets);
  reply.length = packets.NextReplyByte();
  // Only a count that fits a block announces data; anything else is a
  // failure report (0xFF) or a damaged packet, and its bytes are not
  // waited for.
  if (reply.length <= kFileBlockSize) {
    if (reply.length > 0 && !packets.RecvPartialPacket(reply.length)) return Arrival::kNothing;
    for (uint8_t i = 0; i < reply.length; ++i) reply.data[i] = packets.NextReplyByte();
  }
  return packets.CheckReply() ? Arrival::kPacket : Arrival::kDamaged;
}

}  // namespace kel
