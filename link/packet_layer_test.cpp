#include "link/packet_layer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/link_fixture.h"

namespace kel {
namespace {

using PacketBytes = std::vector<uint8_t>;

class PacketLayerTest : public ::testing::Test, public LinkFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port.OpenPort());
    port.settings().receiveTimeoutMs = 100;
  }
  // Requests are built a block at a time, as the remote procedure calls do.
  void Put(const PacketBytes& payload) {
    packets.StartRequest();
    packets.PutPacketBytes(payload.data(), payload.size());
  }
  PacketBytes ReadAll(size_t n) {
    PacketBytes got;
    for (size_t i = 0; i < n; ++i) got.push_back(packets.NextReplyByte());
    return got;
  }
  bool Has(const std::string& text) const { return Console().find(text) != std::string::npos; }
  // A reply read in pieces turns out damaged and the slide finds the real
  // reply behind a stray byte: the exchange fails but the reply is kept
  // (with the proxy on, together with the proxy's header in front of it).
  void LeaveLateReplyHeld(const PacketBytes& request) {
    Put(request);
    packets.SendPacket(request.size());
    PacketBytes reply = {request[0], request[1], 0x77};
    if (proxy.on) reply.insert(reply.begin(), {proxy.unitId, 0x47, 0x3F, proxy.portNumber, 3});
    reply = Framed(reply);
    reply.insert(reply.begin(), 0x99);
    peer.Send(reply, 2);
    ASSERT_TRUE(packets.RecvPartialPacket(3));
    ReadAll(3);
    EXPECT_FALSE(packets.CheckReply());
    ASSERT_EQ(packets.replyHeld(), proxy.on ? 10u : 5u);
  }
};

TEST(Crc16, KnownValues) {
  const std::string check = "123456789";
  const uint16_t wire = Crc16OfBuffer(reinterpret_cast<const uint8_t*>(check.data()), 9);
  EXPECT_EQ(wire, 0x374B);  // CRC 0x4B37, low byte first
  const uint8_t probe[4] = {0x01, 0x41, 0xC0, 0x10};
  EXPECT_EQ(Crc16OfBuffer(probe, 2), 0xC010);
  EXPECT_EQ(Crc16OfBuffer(probe, 4), 0x0000);
}

TEST_F(PacketLayerTest, ProbeGoesOutWithCrcLowByteFirst) {
  Put({0x01, 0x41});
  packets.SendPacket(2);
  EXPECT_EQ(peer.received, (PacketBytes{0x01, 0x41, 0xC0, 0x10}));
  EXPECT_TRUE(Has("<SEND (2) 01 41> <CRC C0 10>"));
  EXPECT_EQ(port.totalSent, 4u);

  peer.received.clear();
  Put({0x01, 0x41});
  packets.SendLengthFramePacket(2);
  EXPECT_EQ(peer.received, (PacketBytes{0xF1, 0x04, 0x01, 0x41, 0xC0, 0x10}));
}

TEST_F(PacketLayerTest, ProxiedRequestCarriesBothHeaders) {
  proxy.on = true;
  proxy.unitId = 0x05;
  proxy.portNumber = 0x02;
  Put({0x07, 0x41, 0x10, 0x20});
  packets.SendPacket(4);
  const PacketBytes covered = {0x05, 0x47, 0x3E, 0x02, 0x04, 0x07, 0x41, 0x10, 0x20};
  const uint16_t wire = Crc16OfBuffer(covered.data(), covered.size());
  PacketBytes expected = {0xF1, 0x0B};
  expected.insert(expected.end(), covered.begin(), covered.end());
  expected.push_back(static_cast<uint8_t>(wire >> 8));
  expected.push_back(static_cast<uint8_t>(wire & 0xFF));
  EXPECT_EQ(peer.received, expected);

  // The reply's proxy header is skipped for the reader.
  peer.Send(Framed({0x05, 0x47, 0x3F, 0x02, 0x04, 0x07, 0x41, 0xAA, 0xBB}));
  ASSERT_TRUE(packets.RecvPacket(4));
  EXPECT_EQ(ReadAll(4), (PacketBytes{0x07, 0x41, 0xAA, 0xBB}));
  EXPECT_TRUE(packets.CheckReply());
  EXPECT_TRUE(Has("[RECV (4) 07 41 AA BB]"));
}

TEST_F(PacketLayerTest, LengthHeaderIsStrippedFromReplies) {
  Put({0x01, 0x41});
  packets.SendPacket(2);
  PacketBytes reply = Framed({0x01, 0x41, 0x33});
  reply.insert(reply.begin(), {0xF1, 0x05});
  peer.Send(reply, 4);
  ASSERT_TRUE(packets.RecvPacket(3));
  EXPECT_EQ(ReadAll(3), (PacketBytes{0x01, 0x41, 0x33}));
  EXPECT_TRUE(packets.CheckReply());
  EXPECT_TRUE(Has("[LENGTH HEADER F1 05]"));
}

TEST_F(PacketLayerTest, PartialReceivesReadAReplyInPieces) {
  Put({0x01, 0x50});
  packets.SendPacket(2);
  peer.Send(Framed({0x01, 0x50, 0x03, 0xA, 0xB, 0xC}));
  ASSERT_TRUE(packets.RecvPartialPacket(3));
  EXPECT_EQ(ReadAll(3), (PacketBytes{0x01, 0x50, 0x03}));
  ASSERT_TRUE(packets.RecvPartialPacket(3));
  EXPECT_EQ(ReadAll(3), (PacketBytes{0xA, 0xB, 0xC}));
  EXPECT_TRUE(packets.CheckReply());
}

TEST_F(PacketLayerTest, GarbageBeforeAGoodReplyCostsOneSlideStep) {
  Put({0x01, 0x41});
  packets.SendPacket(2);
  PacketBytes reply = Framed({0x01, 0x41, 0x00});
  reply.insert(reply.begin(), 0x99);
  peer.Send(reply, 2);
  ASSERT_TRUE(packets.RecvPacket(3));
  EXPECT_TRUE(Has("[BAD CRC (5)"));
  EXPECT_TRUE(Has("[SLIDE PACKET GOOD CRC (5) 01 41 00"));
  EXPECT_EQ(ReadAll(3), (PacketBytes{0x01, 0x41, 0x00}));
  EXPECT_TRUE(packets.CheckReply());
}

TEST_F(PacketLayerTest, BadCrcWithNothingMoreFails) {
  Put({0x01, 0x41});
  packets.SendPacket(2);
  peer.Send({0x01, 0x41, 0x00, 0x12, 0x34});
  ASSERT_TRUE(packets.RecvPacket(3));
  EXPECT_TRUE(Has("[NO MORE DATA FOR SLIDE PACKET (4) 41 00 12 34]"));
  EXPECT_EQ(packets.replyHeld(), 0u);
  EXPECT_FALSE(packets.CheckReply());
}

TEST_F(PacketLayerTest, MissingAndShortRepliesFail) {
  Put({0x01, 0x41});
  packets.SendPacket(2);
  EXPECT_FALSE(packets.RecvPacket(4));
  EXPECT_TRUE(Has("[NO DATA]"));
  EXPECT_FALSE(packets.CheckReply());

  console.ClearOutput();
  Put({0x01, 0x41});
  packets.SendPacket(2);
  peer.Send({0x01, 0x41, 0x07});  // 3 of 6
  EXPECT_FALSE(packets.RecvPacket(4));
  EXPECT_TRUE(Has("[PARTIAL RECV (3) 01 41 07] {_A_} - missing 3 bytes"));
  EXPECT_EQ(packets.lastSentSize(), 0u);
  EXPECT_FALSE(packets.CheckReply());

  // A length read from a reply can ask for more than any reply holds.
  Put({0x01, 0x41});
  packets.SendPacket(2);
  peer.Send(Framed({0x01, 0x41, 0xFF, 0xFF}));
  ASSERT_TRUE(packets.RecvPartialPacket(4));
  EXPECT_FALSE(packets.RecvPartialPacket(65535));
  EXPECT_EQ(packets.replyHeld(), 0u);
}

TEST_F(PacketLayerTest, ReadingPastOrShortOfTheEndIsAReadError) {
  Put({0x01, 0x41});
  packets.SendPacket(2);
  peer.Send(Framed({0x01, 0x41}));
  ASSERT_TRUE(packets.RecvPacket(2));
  ReadAll(4);
  EXPECT_EQ(packets.NextReplyByte(), 0);
  EXPECT_FALSE(packets.CheckReply());
  EXPECT_TRUE(Has("READ ERROR: final position=4, should be at=2"));

  Put({0x01, 0x42});
  packets.SendPacket(2);
  peer.Send(Framed({0x01, 0x42, 0x05}));
  ASSERT_TRUE(packets.RecvPacket(3));
  ReadAll(2);
  EXPECT_FALSE(packets.CheckReply());
  EXPECT_TRUE(Has("READ ERROR: final position=2, should be at=3"));
}

TEST_F(PacketLayerTest, TwoRepliesInOneReadAreBothKept) {
  Put({0x01, 0x41});
  packets.SendPacket(2);
  PacketBytes both = Framed({0x01, 0x41, 0x01});
  const PacketBytes second = Framed({0x01, 0x42, 0x02});
  both.insert(both.end(), second.begin(), second.end());
  peer.Send(both, 1);
  ASSERT_TRUE(packets.RecvPacket(3));
  EXPECT_EQ(ReadAll(3)[2], 0x01);
  EXPECT_TRUE(packets.CheckReply());

  Put({0x01, 0x42});
  packets.SendPacket(2);
  ASSERT_TRUE(packets.RecvPacket(3));
  EXPECT_EQ(ReadAll(3)[2], 0x02);
  EXPECT_TRUE(packets.CheckReply());
}

TEST_F(PacketLayerTest, LateReplyIsReusedByAnIdenticalRetryOnly) {
  const PacketBytes request = {0x01, 0x41};
  LeaveLateReplyHeld(request);
  EXPECT_TRUE(Has("[SLIDE PACKET GOOD CRC (5)"));

  // The identical retry is not transmitted and reads the kept reply.
  peer.received.clear();
  Put(request);
  packets.SendPacket(2);
  EXPECT_TRUE(peer.received.empty());
  EXPECT_TRUE(Has("<SUPPRESS (2) 01 41>"));
  ASSERT_TRUE(packets.RecvPacket(3));
  EXPECT_EQ(ReadAll(3), (PacketBytes{0x01, 0x41, 0x77}));
  EXPECT_TRUE(packets.CheckReply());

  // A request that differs drops the kept reply and goes out in full.
  LeaveLateReplyHeld(request);
  peer.received.clear();
  Put({0x01, 0x42});
  EXPECT_TRUE(Has("[DISCARD (5) 01 41 77"));
  packets.SendPacket(2);
  EXPECT_EQ(peer.received.size(), 4u);
  EXPECT_EQ(packets.replyHeld(), 0u);

  // So does a longer request that starts like the previous one.
  LeaveLateReplyHeld(request);
  peer.received.clear();
  Put({0x01, 0x41, 0x00});
  packets.SendPacket(3);
  EXPECT_EQ(peer.received.size(), 5u);
  EXPECT_EQ(packets.replyHeld(), 0u);
}

// Through a proxy the kept reply still carries the proxy's header: the
// retry reads the payload behind it, not the header as address and command.
TEST_F(PacketLayerTest, LateReplyThroughAProxyIsReadPastItsHeader) {
  proxy.on = true;
  proxy.unitId = 0x05;
  proxy.portNumber = 0x02;
  const PacketBytes request = {0x07, 0x41};
  LeaveLateReplyHeld(request);
  peer.received.clear();
  Put(request);
  packets.SendPacket(2);
  EXPECT_TRUE(peer.received.empty());
  ASSERT_TRUE(packets.RecvPacket(3));
  EXPECT_EQ(ReadAll(3), (PacketBytes{0x07, 0x41, 0x77}));
  EXPECT_TRUE(packets.CheckReply());
}

TEST_F(PacketLayerTest, OversizedRequestIsRefusedAndCannotReadAStaleReply) {
  PacketBytes big(20001);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i);
  packets.StartRequest();
  packets.PutPacketBytes(big.data(), 19990);
  packets.PutPacketBytes(big.data() + 19990, 11);  // one byte too many, dropped
  EXPECT_EQ(packets.writeCount(), PacketLayer::kBufferSize);
  packets.StartRequest();
  for (uint8_t b : big) packets.PutPacketByte(b);
  EXPECT_EQ(packets.writeCount(), PacketLayer::kBufferSize);
  packets.SendPacket(20001);
  EXPECT_TRUE(Has("ERROR: SendPacket(20001): Write size error:20000"));
  EXPECT_TRUE(peer.received.empty());

  // A size mismatch while a kept reply waits must not pass that reply off
  // as the answer to a request that never went out.
  LeaveLateReplyHeld({0x01, 0x41});
  peer.received.clear();
  Put({0x01, 0x41});
  packets.SendPacket(3);
  EXPECT_TRUE(peer.received.empty());
  const bool answered = packets.RecvPacket(3) && ReadAll(3) == PacketBytes({0x01, 0x41, 0x77});
  EXPECT_FALSE(answered && packets.CheckReply());
}

TEST_F(PacketLayerTest, QuietLevelHidesSendTracesButNotFailures) {
  out.errorReportLevel = 0;
  Put({0x01, 0x41});
  packets.SendPacket(2);
  peer.Send(Framed({0x01, 0x41}));
  ASSERT_TRUE(packets.RecvPacket(2));
  ReadAll(2);
  EXPECT_TRUE(packets.CheckReply());
  EXPECT_FALSE(Has("<SEND"));
  EXPECT_FALSE(Has("[RECV"));
  Put({0x01, 0x43});
  packets.SendPacket(2);
  EXPECT_FALSE(packets.RecvPacket(2));
  EXPECT_TRUE(Has("[NO DATA]"));
}

}  // namespace
}  // namespace kel
