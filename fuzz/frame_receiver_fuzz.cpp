// The frame receiver: length and proxy headers, partial receives, CRC
// check and the sliding resynchronisation after a bad CRC, against a reply
// of any bytes for a reply size and framing the input chooses.
#include "fuzz/fuzz_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kel;
  fuzz::FuzzInput input(data, size);
  fuzz::FuzzLink& f = input.link;
  const uint8_t mode = f.source.Byte();
  const size_t replySize = f.source.Byte();
  fuzzing::skipCrcCheck = mode & 1;  // half the inputs reach the resynchronisation
  f.proxy.on = mode & 2;
  f.proxy.unitId = 60;
  f.proxy.portNumber = 2;
  fuzz::Guarded([&] {
    for (int exchange = 0; exchange < 4 && !f.source.empty(); ++exchange) {
      f.packets.StartRequest();
      for (uint8_t b : {0x05, 0x45, 0x10, 0x10}) f.packets.PutPacketByte(b);
      if (mode & 4) {
        f.packets.SendLengthFramePacket(4);
      } else {
        f.packets.SendPacket(4);
      }
      bool received;
      if (mode & 8) {
        received = f.packets.RecvPartialPacket(4) && f.packets.RecvPartialPacket(replySize);
      } else {
        received = f.packets.RecvPacket(replySize);
      }
      if (received) {
        for (size_t i = 0; i < replySize + 4; ++i) f.packets.NextReplyByte();
      }
      f.packets.CheckReply();
    }
  });
  fuzzing::skipCrcCheck = true;
  return 0;
}
