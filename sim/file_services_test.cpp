#include "sim/file_services.h"

#include <gtest/gtest.h>

#include "sim/file_checksums.h"
#include "sim/sim_unit.h"
#include "tests/sim_flash_support.h"

namespace kel::sim {
namespace {

using testing::Command;
using testing::OnlyReply;
using testing::Pattern;

constexpr uint8_t kUnit = 7;

SimReplies SendToFiles(SimUnit& unit, const std::vector<uint8_t>& request) {
  SimReplies replies;
  HandleFileRequest(unit, request, replies);
  return replies;
}

std::vector<uint8_t> Rpc(SimUnit& unit, uint8_t command, uint8_t drive, uint16_t file) {
  return OnlyReply(SendToFiles(unit, Command(command, kUnit).U8(drive).U16(file).Take()));
}

std::vector<uint8_t> GBlock(uint8_t drive, uint16_t file, uint32_t offset,
                            const std::vector<uint8_t>& data) {
  PayloadWriter w;
  w.U8(kUnit)
      .U8(0x47)
      .U8('2')
      .U8(drive)
      .U16(file)
      .U32(offset)
      .U8(static_cast<uint32_t>(data.size()))
      .Bytes(data);
  return w.Take();
}

struct Ack {
  uint8_t status = 0;
  uint32_t offset = 0;
  uint8_t result = 0;
};

Ack ReadAck(const SimReplies& replies) {
  Ack ack;
  if (replies.size() != 1 || replies[0].payload.size() != 12) return ack;
  const auto& p = replies[0].payload;
  EXPECT_EQ(p[1], 0x47);
  ack.status = p[2];
  ack.offset = (uint32_t{p[6]} << 24) | (uint32_t{p[7]} << 16) | (uint32_t{p[8]} << 8) | p[9];
  ack.result = p[11];
  return ack;
}

uint32_t At32(const std::vector<uint8_t>& p, size_t at) {
  return (uint32_t{p[at]} << 24) | (uint32_t{p[at + 1]} << 16) | (uint32_t{p[at + 2]} << 8) |
         p[at + 3];
}

TEST(SimFileServices, FileWrittenInBlocksReadsBackWithItsChecksums) {
  SimUnit unit;
  const std::vector<uint8_t> data = Pattern(1000, 1);
  EXPECT_EQ(Rpc(unit, 0x29, 1, 0x1E0),
            (std::vector<uint8_t>{kUnit, 0x45, 0x10, 0x29, 1, 0x01, 0xE0, 0}));
  for (uint32_t offset = 0; offset < 1000; offset += 128) {
    const uint32_t n = std::min<uint32_t>(128, 1000 - offset);
    const SimReplies replies =
        SendToFiles(unit, GBlock(1, 0x1E0, offset, {data.begin() + offset, data.begin() + offset + n}));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(replies[0].lengthFramed);
    const Ack ack = ReadAck(replies);
    EXPECT_EQ(ack.status, '3');
    EXPECT_EQ(ack.offset, offset);
    EXPECT_EQ(ack.result, 0);
  }
  // Properties item 1: a CRC number stored with the file.
  EXPECT_EQ(
      SendToFiles(unit, Command(0x2B, kUnit).U8(1).U16(0x1E0).U8(4).U8(0x01).U8(0x42).U16(0x4957).Take())
          .size(),
      1u);
  EXPECT_EQ(Rpc(unit, 0x2C, 1, 0x1E0).back(), 0);

  const auto attributes =
      OnlyReply(SendToFiles(unit, Command(0x2F, kUnit).U8(1).U16(0x1E0).U32(1000).Take()));
  ASSERT_EQ(attributes.size(), 29u + 4);
  const FileChecksums sums = ComputeFileChecksums(data.data(), data.size());
  EXPECT_EQ(attributes[7], 0);
  EXPECT_EQ(At32(attributes, 8), 1000u);
  EXPECT_EQ(At32(attributes, 12), sums.checksum1);
  EXPECT_EQ(At32(attributes, 16), sums.checksum2);
  EXPECT_EQ(At32(attributes, 20), sums.checksum3);
  EXPECT_EQ(At32(attributes, 24), sums.checksum4);
  EXPECT_EQ(attributes[28], 4);
  EXPECT_EQ(attributes[31], 0x49);

  // Read back with the windowed read requests and with ReadFileBlock.
  EXPECT_EQ(Rpc(unit, 0x26, 1, 0x1E0).back(), 0);
  std::vector<uint8_t> back;
  for (uint32_t offset = 0; offset < 1024; offset += 128) {
    PayloadWriter w;
    w.U8(kUnit).U8(0x47).U8('0').U8(1).U16(0x1E0).U32(offset).U8(128);
    const auto reply = OnlyReply(SendToFiles(unit, w.Take()));
    ASSERT_GE(reply.size(), 11u);
    EXPECT_EQ(reply[2], '1');
    EXPECT_EQ(At32(reply, 6), offset);
    ASSERT_EQ(reply.size(), 11u + reply[10]);
    back.insert(back.end(), reply.begin() + 11, reply.end());
  }
  EXPECT_EQ(back, data);
  const auto block =
      OnlyReply(SendToFiles(unit, Command(0x27, kUnit).U8(1).U16(0x1E0).U32(896).U8(128).Take()));
  ASSERT_EQ(block.size(), 12u + 104);
  EXPECT_EQ(block[11], 104);
  EXPECT_TRUE(std::equal(block.begin() + 12, block.end(), data.begin() + 896));
}

TEST(SimFileServices, AcknowledgementsAreCumulativeAndNegativeForGaps) {
  SimUnit unit;
  Rpc(unit, 0x29, 1, 0x1E1);
  const auto a = Pattern(128, 1), b = Pattern(128, 2), c = Pattern(128, 3);
  EXPECT_EQ(ReadAck(SendToFiles(unit, GBlock(1, 0x1E1, 0, a))).status, '3');
  // Block at 256 before 128: negative, nothing written.
  const Ack gap = ReadAck(SendToFiles(unit, GBlock(1, 0x1E1, 256, c)));
  EXPECT_EQ(gap.status, '4');
  EXPECT_EQ(unit.files.Find(1, 0x1E1)->data.size(), 128u);
  EXPECT_EQ(ReadAck(SendToFiles(unit, GBlock(1, 0x1E1, 128, b))).offset, 128u);
  // A resent block already held: acknowledged up to the last block taken.
  const Ack again = ReadAck(SendToFiles(unit, GBlock(1, 0x1E1, 0, a)));
  EXPECT_EQ(again.status, '3');
  EXPECT_EQ(again.offset, 128u);
  EXPECT_EQ(ReadAck(SendToFiles(unit, GBlock(1, 0x1E1, 256, c))).offset, 256u);
  EXPECT_EQ(unit.files.Find(1, 0x1E1)->data.size(), 384u);
  // A block for a file that is not open for writing is refused.
  EXPECT_EQ(ReadAck(SendToFiles(unit, GBlock(1, 0x1E2, 0, a))).status, '4');
  // A zero-byte file: create and close leave an empty file.
  Rpc(unit, 0x29, 1, 0x1E3);
  Rpc(unit, 0x2C, 1, 0x1E3);
  ASSERT_NE(unit.files.Find(1, 0x1E3), nullptr);
  EXPECT_TRUE(unit.files.Find(1, 0x1E3)->data.empty());
}

TEST(SimFileServices, HighSpeedBlocksAndFailures) {
  SimUnit unit;
  unit.role = SimRole::kApplication;
  unit.softwareVersion = 603;
  Rpc(unit, 0x29, 1, 0x1E0);
  PayloadWriter h;
  h.U8(kUnit).U8(0x48).U8(0x04).U8('2').U8(1).U16(0x1E0).U32(0).U8(3).U8(1).U8(2).U8(3);
  const std::vector<uint8_t> fast = h.Take();
  EXPECT_TRUE(SendToFiles(unit, fast).empty());  // 6.03 does not know "H"
  unit.softwareVersion = 604;
  EXPECT_EQ(ReadAck(SendToFiles(unit, fast)).status, '3');
  EXPECT_EQ(unit.files.Find(1, 0x1E0)->data, (std::vector<uint8_t>{1, 2, 3}));

  unit.hardwareFailure = 0x01;
  const Ack failed = ReadAck(SendToFiles(unit, GBlock(1, 0x1E0, 3, {4})));
  EXPECT_EQ(failed.result, 0x01);
  EXPECT_EQ(failed.offset, 3u);
  // Reads are answered only for the file open for reading.
  EXPECT_TRUE(SendToFiles(unit, Command(0x27, kUnit).U8(1).U16(0x1E0).U32(0).U8(128).Take()).empty());
  EXPECT_EQ(Rpc(unit, 0x26, 1, 0x1E0).back(), 0);
  const auto read =
      OnlyReply(SendToFiles(unit, Command(0x27, kUnit).U8(1).U16(0x1E0).U32(0).U8(128).Take()));
  ASSERT_EQ(read.size(), 12u);
  EXPECT_EQ(read[11], 0xFF);
  unit.hardwareFailure = 0;

  // Missing files and drives, bad lengths.
  EXPECT_EQ(Rpc(unit, 0x26, 1, 0x999).back(), FileStore::kResultNoFile);
  EXPECT_EQ(Rpc(unit, 0x29, 5, 1).back(), FileStore::kResultNoDrive);
  EXPECT_EQ(OnlyReply(SendToFiles(unit, Command(0x2F, kUnit).U8(1).U16(0x999).U32(0).Take()))[7],
            FileStore::kResultNoFile);
  EXPECT_TRUE(SendToFiles(unit, Command(0x2B, kUnit).U8(1).U16(0x1E0).U8(10).U8(1).Take()).empty());
  auto oversize = GBlock(1, 0x1E0, 3, Pattern(129, 1));
  EXPECT_TRUE(SendToFiles(unit, oversize).empty());
  oversize.resize(20);
  EXPECT_TRUE(SendToFiles(unit, oversize).empty());
  EXPECT_TRUE(SendToFiles(unit, {kUnit, 0x47}).empty());
  EXPECT_TRUE(SendToFiles(unit, {kUnit, 0x48, 0x04}).empty());
}

}  // namespace
}  // namespace kel::sim
