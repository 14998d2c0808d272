#include "sim/frame_codec.h"

#include <gtest/gtest.h>

#include "sim/crc16.h"
#include "sim/sim_test_support.h"

namespace kel::sim {
namespace {

using testing::WithCrc;

TEST(SimCrc16, MatchesTheProtocolCheckValues) {
  const std::string digits = "123456789";
  EXPECT_EQ(ModbusCrc16(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()), 0x4B37);
  std::vector<uint8_t> ping = {0x01, 0x41};
  AppendCrc16(ping);
  EXPECT_EQ(ping, (std::vector<uint8_t>{0x01, 0x41, 0xC0, 0x10}));
  EXPECT_EQ(ModbusCrc16(ping), 0);
}

TEST(SimFrameDecoder, CutsPlainLengthFramedAndNoisyStreams) {
  FrameDecoder d;
  DecodedFrame f;
  // Two requests in one burst, the first plain, the second length-framed.
  std::vector<uint8_t> burst = WithCrc({0x05, 0x45, 0x10, 0x10});
  std::vector<uint8_t> framed = {0xF1, 0x06};
  const auto body = WithCrc({0x05, 0x45, 0x10, 0x1B});
  framed.insert(framed.end(), body.begin(), body.end());
  burst.insert(burst.end(), framed.begin(), framed.end());
  d.Push(burst.data(), burst.size());
  ASSERT_TRUE(d.Next(f));
  EXPECT_EQ(f.payload, (std::vector<uint8_t>{0x05, 0x45, 0x10, 0x10}));
  EXPECT_FALSE(f.lengthFramed);
  ASSERT_TRUE(d.Next(f));
  EXPECT_EQ(f.payload, (std::vector<uint8_t>{0x05, 0x45, 0x10, 0x1B}));
  EXPECT_TRUE(f.lengthFramed);
  EXPECT_FALSE(d.Next(f));

  // Noise in front of a request is skipped and counted.
  std::vector<uint8_t> noisy = {0x00, 0xFF, 0x13};
  const auto ping = WithCrc({0xF0, 0x41});
  noisy.insert(noisy.end(), ping.begin(), ping.end());
  d.Push(noisy.data(), noisy.size());
  ASSERT_TRUE(d.Next(f));
  EXPECT_EQ(f.payload, (std::vector<uint8_t>{0xF0, 0x41}));
  EXPECT_EQ(d.TakeSkipped(), 3u);
}

TEST(SimFrameDecoder, WaitsForTheRestOfASplitRequestWhoseSizeIsKnown) {
  // write memory: the length field says 3 data bytes follow.
  const auto wire = WithCrc({0x01, 0x45, 0x10, 0x20, 0x10, 0x00, 0x00, 0x00, 0x03, 0xAA, 0xBB, 0xCC});
  FrameDecoder d;
  DecodedFrame f;
  d.Push(wire.data(), 7);
  EXPECT_FALSE(d.Next(f));
  d.Push(wire.data() + 7, wire.size() - 7);
  ASSERT_TRUE(d.Next(f));
  EXPECT_EQ(f.payload.size(), 12u);
  EXPECT_EQ(d.pending(), 0u);
}

TEST(SimFrameDecoder, ReadsTheProxyHeaderAndEncodesTheReturnHeader) {
  // F1, L = 4 + 2 + 5, jig 0x3C, "G", ">", port 2, size 4, payload, CRC over header and payload.
  std::vector<uint8_t> wire = {0xF1, 0x0B};
  const auto body = WithCrc({0x3C, 0x47, 0x3E, 0x02, 0x04, 0x07, 0x45, 0x10, 0x10});
  wire.insert(wire.end(), body.begin(), body.end());
  FrameDecoder d;
  DecodedFrame f;
  d.Push(wire.data(), wire.size());
  ASSERT_TRUE(d.Next(f));
  EXPECT_TRUE(f.proxied);
  EXPECT_EQ(f.proxy.jigAddress, 0x3C);
  EXPECT_EQ(f.proxy.port, 2);
  EXPECT_EQ(f.payload, (std::vector<uint8_t>{0x07, 0x45, 0x10, 0x10}));

  ProxyHeader back;
  back.jigAddress = 0x3C;
  back.direction = ProxyHeader::kFromUnit;
  back.port = 2;
  const auto reply = EncodeFrame({0x07, 0x42}, false, &back);
  std::vector<uint8_t> expected = {0xF1, 0x09};
  const auto replyBody = WithCrc({0x3C, 0x47, 0x3F, 0x02, 0x02, 0x07, 0x42});
  expected.insert(expected.end(), replyBody.begin(), replyBody.end());
  EXPECT_EQ(reply, expected);
}

TEST(SimFrameDecoder, BoundsEndlessNoise) {
  FrameDecoder d;
  std::vector<uint8_t> noise(FrameDecoder::kMaxPending * 3, 0x55);
  d.Push(noise.data(), noise.size());
  DecodedFrame f;
  EXPECT_FALSE(d.Next(f));
  EXPECT_LE(d.pending(), FrameDecoder::kMaxPending);
}

}  // namespace
}  // namespace kel::sim
