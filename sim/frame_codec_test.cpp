#include "sim/frame_codec.h"

#include <gtest/gtest.h>

#include <algorithm>

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
  const auto wire =
      WithCrc({0x01, 0x45, 0x10, 0x20, 0x10, 0x00, 0x00, 0x00, 0x03, 0xAA, 0xBB, 0xCC});
  FrameDecoder d;
  DecodedFrame f;
  d.Push(wire.data(), 7);
  EXPECT_FALSE(d.Next(f));
  d.Push(wire.data() + 7, wire.size() - 7);
  ASSERT_TRUE(d.Next(f));
  EXPECT_EQ(f.payload.size(), 12u);
  EXPECT_EQ(d.pending(), 0u);
}

// Feeds the wire to a decoder in pieces ending at `cuts` (then the rest),
// taking every frame as soon as it is complete, as the network does.
std::vector<DecodedFrame> DecodeInPieces(const std::vector<uint8_t>& wire, std::vector<size_t> cuts,
                                         FrameDecoder& d) {
  std::vector<DecodedFrame> frames;
  cuts.push_back(wire.size());
  size_t from = 0;
  for (size_t end : cuts) {
    d.Push(wire.data() + from, end - from);
    from = end;
    DecodedFrame f;
    while (d.Next(f)) frames.push_back(f);
  }
  return frames;
}

std::vector<uint8_t> LengthFramed(const std::vector<uint8_t>& payload) {
  const auto body = WithCrc(payload);
  // Sized once and filled in place: GCC 12 at -O3 warns falsely about an
  // insert into a two-byte vector here.
  std::vector<uint8_t> framed(body.size() + 2);
  framed[0] = 0xF1;
  framed[1] = static_cast<uint8_t>(body.size());
  std::copy(body.begin(), body.end(), framed.begin() + 2);
  return framed;
}

// A program request (0x1042, 16-bit length) of `dataSize` bytes whose data
// holds byte runs that are whole frames by themselves: a ping, a
// ReadUnitInfo and a length-framed request.
std::vector<uint8_t> ProgramRequestWithFramesInside(size_t dataSize) {
  std::vector<uint8_t> payload = {0x01,
                                  0x45,
                                  0x10,
                                  0x42,
                                  0x00,
                                  0x01,
                                  0x00,
                                  0x00,
                                  static_cast<uint8_t>(dataSize >> 8),
                                  static_cast<uint8_t>(dataSize)};
  for (size_t i = 0; i < dataSize; ++i) payload.push_back(static_cast<uint8_t>(i * 7 + (i >> 8)));
  const auto plant = [&](size_t at, const std::vector<uint8_t>& bytes) {
    std::copy(bytes.begin(), bytes.end(), payload.begin() + static_cast<std::ptrdiff_t>(at));
  };
  plant(10 + dataSize / 8, WithCrc({0x01, 0x41}));
  plant(10 + dataSize * 3 / 8, WithCrc({0x05, 0x45, 0x10, 0x10}));
  plant(10 + dataSize * 5 / 8, LengthFramed({0x05, 0x45, 0x10, 0x1B}));
  return payload;
}

TEST(SimFrameDecoder, DecodesALargeRequestSplitAtAnyPoints) {
  const std::vector<uint8_t> payload = ProgramRequestWithFramesInside(0x2000);
  const std::vector<uint8_t> wire = WithCrc(payload);
  const std::vector<std::vector<size_t>> splits = {
      {},
      {1},
      {3},
      {9},
      {1035},
      {1036},
      {3084, 3086},
      {5131, 5132, 5136},
      {4096},
      {4096, 8192},
      {wire.size() - 1},
      {2, 1035, 3085, 5133, 5137, 8000, wire.size() - 2},
  };
  for (const auto& cuts : splits) {
    FrameDecoder d;
    const auto frames = DecodeInPieces(wire, cuts, d);
    ASSERT_EQ(frames.size(), 1u) << "cut at " << (cuts.empty() ? 0 : cuts.front());
    EXPECT_EQ(frames[0].payload, payload);
    EXPECT_EQ(d.TakeSkipped(), 0u);
    EXPECT_EQ(d.pending(), 0u);
  }
}

TEST(SimFrameDecoder, DecodesBackToBackRequestsSplitAnywhere) {
  // A ping, a program request, a length-framed ReadUnitInfo, a file data
  // block and a short program request.
  const std::vector<std::vector<uint8_t>> payloads = {
      {0x01, 0x41},
      ProgramRequestWithFramesInside(300),
      {0x05, 0x45, 0x10, 0x10},
      {0x05, 0x47, 0x32, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x03, 0x01, 0x41, 0x7E},
      ProgramRequestWithFramesInside(64),
  };
  std::vector<uint8_t> wire;
  for (size_t i = 0; i < payloads.size(); ++i) {
    const auto framed = i == 2 ? LengthFramed(payloads[i]) : WithCrc(payloads[i]);
    wire.insert(wire.end(), framed.begin(), framed.end());
  }
  std::vector<std::vector<size_t>> splits;
  for (size_t cut = 1; cut < wire.size(); ++cut) splits.push_back({cut});
  for (size_t step : {1u, 2u, 3u, 7u, 64u}) {
    std::vector<size_t> cuts;
    for (size_t cut = step; cut < wire.size(); cut += step) cuts.push_back(cut);
    splits.push_back(cuts);
  }
  for (const auto& cuts : splits) {
    FrameDecoder d;
    const auto frames = DecodeInPieces(wire, cuts, d);
    ASSERT_EQ(frames.size(), payloads.size()) << "first cut at " << cuts.front();
    for (size_t i = 0; i < payloads.size(); ++i) EXPECT_EQ(frames[i].payload, payloads[i]);
    EXPECT_EQ(d.TakeSkipped(), 0u);
  }
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
