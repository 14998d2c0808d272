#include "sim/programmer_role.h"

#include <gtest/gtest.h>

#include "sim/boot_loader_role.h"
#include "sim/file_services.h"
#include "sim/sim_unit.h"
#include "sim/update_files.h"
#include "tests/sim_flash_support.h"

namespace kel::sim {
namespace {

using testing::BuildRecordImage;
using testing::Command;
using testing::OnlyReply;
using testing::Pattern;

SimUnit ProgrammerUnit() {
  SimUnit unit;
  unit.role = SimRole::kProgrammer;
  unit.mcuType = 5;  // LPC1768 transmitter
  unit.cardNumber = 648;
  unit.bootLoaderRelease = 18;
  unit.bufferSize = 1024;
  return unit;
}

std::vector<uint8_t> AskProgrammer(SimUnit& unit, const std::vector<uint8_t>& request,
                         uint32_t* delay = nullptr) {
  SimReplies replies;
  if (!HandleProgrammerRequest(unit, request, replies)) return {};
  if (delay != nullptr && replies.size() == 1) *delay = replies[0].delayMs + replies[0].lateMs;
  return OnlyReply(replies);
}

std::vector<uint8_t> Windowed(uint16_t tag, uint32_t address, const std::vector<uint8_t>& data) {
  return Command(0x41)
      .U16(tag)
      .U32(address)
      .U8(static_cast<uint32_t>(data.size()))
      .Bytes(data)
      .Take();
}

uint16_t ReplyTag(const std::vector<uint8_t>& reply) {
  return static_cast<uint16_t>((reply[4] << 8) | reply[5]);
}

TEST(SimProgrammer, DownloadThroughBootLoaderThenFlashWriteLeavesTheImageInFlash) {
  SimUnit unit = ProgrammerUnit();
  unit.role = SimRole::kBootLoader;
  const std::vector<uint8_t> programmerImage =
      BuildRecordImage(0x100002CD, {{0x10000200, Pattern(128, 1)}, {0x10000280, Pattern(128, 2)}});
  std::vector<ImageRecord> records;
  ASSERT_TRUE(ParseRecordImage(programmerImage.data(), programmerImage.size(), records));
  for (const auto& r : records) {
    SimReplies replies;
    ASSERT_TRUE(HandleBootLoaderRequest(
        unit,
        Command(0x20).U32(r.address).U8(static_cast<uint32_t>(r.data.size())).Bytes(r.data).Take(),
        replies));
  }
  SimReplies started;
  ASSERT_TRUE(HandleBootLoaderRequest(unit, Command(0x22).U32(0x100002CD).Take(), started));
  ASSERT_EQ(unit.role, SimRole::kProgrammer);

  EXPECT_EQ(AskProgrammer(unit, Command(0x31).Take()), (std::vector<uint8_t>{1, 0x45, 0x10, 0x31, 3, 0}));
  unit.programmerBufferSize = 8192;  // the programmer's own, not the boot loader's 1024
  EXPECT_EQ(AskProgrammer(unit, Command(0x1F).Take()),
            (std::vector<uint8_t>{1, 0x45, 0x10, 0x1F, 0x20, 0x00}));
  EXPECT_EQ(AskProgrammer(unit, Command(0x23).U8(8).Take()).size(), 4u);  // new table: 921600
  EXPECT_EQ(unit.nextBaudRate, 921600);

  // Software: a large record, a small one and a gap, then erase and program.
  unit.flash.Write(0x5800, Pattern(64, 9));  // old software in an erased sector
  const std::vector<uint8_t> softwareImage = BuildRecordImage(
      0, {{0x4000, Pattern(1000, 3)}, {0x43E8, Pattern(100, 4)}, {0x5000, Pattern(1024, 5)}});
  ASSERT_TRUE(ParseRecordImage(softwareImage.data(), softwareImage.size(), records));
  EXPECT_EQ(AskProgrammer(unit, Command(0x35).U32(0x4000).U32(0x53FF).Take()).size(), 4u);
  for (const auto& r : records) {
    const uint32_t n = static_cast<uint32_t>(r.data.size());
    const auto request = n <= 128 ? Command(0x40).U32(r.address).U8(n).Bytes(r.data).Take()
                                  : Command(0x42).U32(r.address).U16(n).Bytes(r.data).Take();
    const auto reply = AskProgrammer(unit, request);
    ASSERT_EQ(reply.size(), n <= 128 ? 10u : 11u);
    EXPECT_EQ(reply.back(), 0);
  }
  for (const auto& r : records) EXPECT_EQ(unit.flash.Read(r.address, r.data.size()), r.data);
  EXPECT_EQ(unit.flash.ReadByte(0x444C), 0xFF);  // the gap stays erased
  EXPECT_FALSE(unit.flash.HasData(0x5400, 0x5FFF));
  EXPECT_TRUE(unit.flash.softwareWritten);
  EXPECT_FALSE(unit.bootRegionTouched);
}

TEST(SimProgrammer, WindowedWritesFollowTheirSequence) {
  SimUnit unit = ProgrammerUnit();
  const auto a = Pattern(128, 1), b = Pattern(128, 2), c = Pattern(128, 3), d = Pattern(128, 4);
  // The first piece of a record carries bit 15; replies echo tag, address, length.
  auto reply = AskProgrammer(unit, Windowed(0x8000, 0x4000, a));
  ASSERT_EQ(reply.size(), 12u);
  EXPECT_EQ(ReplyTag(reply), 0x8000);
  EXPECT_EQ(reply[10], 128);
  EXPECT_EQ(reply[11], 0);
  EXPECT_EQ(ReplyTag(AskProgrammer(unit, Windowed(1, 0x4080, b))), 1);

  // Sequence 3 after 1 means 2 was lost: dropped without a reply or a write.
  EXPECT_TRUE(AskProgrammer(unit, Windowed(3, 0x4180, d)).empty());
  EXPECT_FALSE(unit.flash.HasData(0x4180, 0x41FF));
  // A repeat of 1 (its reply was lost) is answered again but not rewritten.
  reply = AskProgrammer(unit, Windowed(1, 0x4080, Pattern(128, 99)));
  EXPECT_EQ(ReplyTag(reply), 1);
  EXPECT_EQ(unit.flash.Read(0x4080, 128), b);
  // The client goes back to the oldest outstanding piece and resends in order.
  EXPECT_EQ(ReplyTag(AskProgrammer(unit, Windowed(2, 0x4100, c))), 2);
  EXPECT_EQ(ReplyTag(AskProgrammer(unit, Windowed(3, 0x4180, d))), 3);
  EXPECT_EQ(unit.flash.Read(0x4100, 256), [&] {
    std::vector<uint8_t> both = c;
    both.insert(both.end(), d.begin(), d.end());
    return both;
  }());

  // Sequence 0 starts a new image after a reset of the sequence.
  EXPECT_EQ(ReplyTag(AskProgrammer(unit, Windowed(0x8000, 0x5000, a))), 0x8000);
  EXPECT_EQ(ReplyTag(AskProgrammer(unit, Windowed(1, 0x5080, b))), 1);

  // Late replies: even sequences are held back past the odd one after them.
  unit.windowedRepliesLate = true;
  uint32_t evenDelay = 0, oddDelay = 0;
  AskProgrammer(unit, Windowed(2, 0x5100, c), &evenDelay);
  AskProgrammer(unit, Windowed(3, 0x5180, d), &oddDelay);
  EXPECT_GT(evenDelay, oddDelay);
}

TEST(SimProgrammer, BackupFieldsRoundTripAndSurviveOnlyWhenWrittenBack) {
  SimUnit unit = ProgrammerUnit();
  const std::vector<uint8_t> first = Pattern(128, 10), second = Pattern(128, 11);
  EXPECT_EQ(AskProgrammer(unit, Command(0x50).U32(0x300).U8(0x80).Bytes(first).Take()).back(), 0);
  EXPECT_EQ(AskProgrammer(unit, Command(0x50).U32(0x380).U8(0x80).Bytes(second).Take()).back(), 0);
  auto read = AskProgrammer(unit, Command(0x51).U32(0x300).U8(0x80).Take());
  ASSERT_EQ(read.size(), 137u);
  EXPECT_TRUE(std::equal(read.begin() + 9, read.end(), first.begin()));
  EXPECT_TRUE(AskProgrammer(unit, Command(0x51).U32(0x300).U8(0x40).Take()).empty());  // only 128-byte reads

  // A new programmer session: rewriting the first sector erases it whole.
  ASSERT_EQ(AskProgrammer(unit, Command(0x33).Take()).size(), 4u);
  EXPECT_EQ(unit.nextBaudRate, 115200);
  const std::vector<uint8_t> boot = Pattern(768, 12);
  ASSERT_EQ(AskProgrammer(unit, Command(0x42).U32(0).U16(768).Bytes(boot).Take()).back(), 0);
  EXPECT_EQ(unit.flash.Read(0x380, 128), std::vector<uint8_t>(128, 0xFF));
  // Written back before the next record, the fields stay.
  AskProgrammer(unit, Command(0x50).U32(0x300).U8(0x80).Bytes(first).Take());
  AskProgrammer(unit, Command(0x50).U32(0x380).U8(0x80).Bytes(second).Take());
  ASSERT_EQ(AskProgrammer(unit, Command(0x42).U32(0x400).U16(512).Bytes(Pattern(512, 13)).Take()).back(), 0);
  EXPECT_EQ(unit.flash.Read(0x380, 128), second);
  EXPECT_EQ(unit.flash.Read(0, 768), boot);
  EXPECT_TRUE(unit.bootRegionTouched);
}

TEST(SimProgrammer, FailuresAnswerWithResultCodes) {
  SimUnit unit = ProgrammerUnit();
  // Outside the MCU's flash.
  EXPECT_EQ(AskProgrammer(unit, Command(0x40).U32(0x7FFF0).U8(16).Bytes(Pattern(16, 1)).Take()).back(), 0);
  EXPECT_EQ(AskProgrammer(unit, Command(0x40).U32(0x7FFF8).U8(16).Bytes(Pattern(16, 1)).Take()).back(),
            kResultBadAddress);
  EXPECT_EQ(AskProgrammer(unit, Command(0x40).U32(0xFFFFFFF8).U8(16).Bytes(Pattern(16, 1)).Take()).back(),
            kResultBadAddress);

  unit.files.Put(1, 0x1E0, {1, 2, 3});
  unit.hardwareFailure = 0x05;
  EXPECT_EQ(AskProgrammer(unit, Command(0x40).U32(0x4000).U8(16).Bytes(Pattern(16, 2)).Take()).back(), 0x05);
  EXPECT_EQ(AskProgrammer(unit, Windowed(0x8000, 0x4000, Pattern(16, 2))).back(), 0x05);
  EXPECT_EQ(AskProgrammer(unit, Command(0x36).U8(1).Text("FMS").Take()),
            (std::vector<uint8_t>{1, 0x45, 0x10, 0x36, 1, 0x05}));
  EXPECT_FALSE(unit.flash.HasData(0x4000, 0x4FFF));
  EXPECT_NE(unit.files.Find(1, 0x1E0), nullptr);

  unit.hardwareFailure = 0;
  EXPECT_TRUE(AskProgrammer(unit, Command(0x36).U8(1).Text("FMX").Take()).empty());
  EXPECT_EQ(AskProgrammer(unit, Command(0x36).U8(9).Text("FMS").Take()).back(), FileStore::kResultNoDrive);
  EXPECT_EQ(AskProgrammer(unit, Command(0x36).U8(1).Text("FMS").Take()).back(), 0);
  EXPECT_EQ(unit.files.Find(1, 0x1E0), nullptr);
}

TEST(SimProgrammer, BufferedChunksProgramFlash) {
  SimUnit unit = ProgrammerUnit();
  const std::vector<uint8_t> data = Pattern(300, 20);
  for (uint32_t offset = 0; offset < 300; offset += 128) {
    const uint32_t n = std::min<uint32_t>(128, 300 - offset);
    AskProgrammer(unit, Command(0x38)
                  .U16(offset)
                  .U8(n)
                  .Bytes(std::vector<uint8_t>(data.begin() + offset, data.begin() + offset + n))
                  .Take());
  }
  const auto reply = AskProgrammer(unit, Command(0x3A).U32(0x1A000).U16(300).Take());
  ASSERT_EQ(reply.size(), 11u);
  EXPECT_EQ(reply.back(), 0);
  EXPECT_EQ(unit.flash.Read(0x1A000, 300), data);
}

}  // namespace
}  // namespace kel::sim

namespace kel::sim {
namespace {

// Requests cut short, padded or filled with noise after a valid head: every
// handler must answer or ignore them without reading past the payload.
TEST(SimProgrammer, TruncatedAndNoisyRequestsAreSafeInEveryRole) {
  const uint8_t commands[] = {0x12, 0x13, 0x1F, 0x91, 0x20, 0x21, 0x22, 0x23, 0x24, 0x26,
                              0x27, 0x29, 0x2B, 0x2C, 0x2F, 0x31, 0x32, 0x33, 0x35, 0x36,
                              0x38, 0x39, 0x3A, 0x3B, 0x40, 0x41, 0x42, 0x50, 0x51, 0x90};
  uint32_t x = 12345;
  auto next = [&x] { return x = x * 1103515245u + 12345u, static_cast<uint8_t>(x >> 16); };
  SimUnit unit = ProgrammerUnit();
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> request;
    const int form = round % 3;
    if (form == 0) {
      request = {1, 0x45, 0x10, commands[next() % sizeof commands]};
    } else {
      request = {1, static_cast<uint8_t>(form == 1 ? 0x47 : 0x48),
                 static_cast<uint8_t>(form == 1 ? '2' : 0x04)};
      if (form == 2) request.push_back(next() % 2 ? '2' : '0');
      request.push_back(1);  // drive
    }
    const size_t extra = next() % 160;
    for (size_t i = 0; i < extra; ++i) request.push_back(next());
    // Cut anywhere, including inside the head.
    request.resize(next() % (request.size() + 1));
    SimReplies replies;
    unit.role = SimRole::kBootLoader;
    HandleBootLoaderRequest(unit, request, replies);
    unit.role = SimRole::kProgrammer;
    HandleProgrammerRequest(unit, request, replies);
    HandleFileRequest(unit, request, replies);
    for (const SimReply& reply : replies) ASSERT_LE(reply.payload.size(), 12u + 16384);
    if (round % 500 == 0) {  // give the file services a file open for writing
      unit.files.Create(1, 0);
      unit.files.open = OpenFileState{OpenFileState::Mode::kWriting, 1, 0, 0, 0, false};
    }
  }
}

}  // namespace
}  // namespace kel::sim
