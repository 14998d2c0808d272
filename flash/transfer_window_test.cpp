// How the windows of the block transfer judge replies that come late, out
// of order, or name another request than the one they seem to answer.
#include <gtest/gtest.h>

#include "flash/chunk_window.h"
#include "flash/program_window.h"
#include "tests/unit_fixture.h"

namespace kel {
namespace {

using Payloads = std::vector<std::vector<uint8_t>>;

/// A windowed program reply: tag, address, length, result.
std::vector<uint8_t> Programmed(uint16_t sequence, uint32_t address, uint8_t result) {
  return wire::Reply(
      1, 0x1041,
      {static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence),
       static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
       static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), 128, result});
}

/// A buffered chunk's echo: offset, length.
std::vector<uint8_t> Chunk(uint16_t offset, uint8_t length) {
  return wire::Reply(1, 0x1038,
                     {static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset), length});
}

struct ReplyCase {
  const char* name;
  bool chunks;      ///< a 200-byte buffered block, else two windowed writes
  Payloads first;   ///< sent back for the first request, in this order
  Payloads second;  ///< and for the second
  Payloads third;   ///< and for the third (windowed writes only)
  bool succeeds;
  const char* text;  ///< on the console
};

class LateReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(LateReplyTest, OnlyTheRightReplyRetires) {
  const ReplyCase& c = GetParam();
  UnitFixture f;
  size_t request = 0;
  f.peer.answer = [&](const std::vector<uint8_t>&) -> std::optional<std::vector<uint8_t>> {
    const Payloads& replies = request == 0 ? c.first : request == 1 ? c.second : c.third;
    ++request;
    for (const auto& reply : replies) {
      const std::vector<uint8_t> bytes = wire::Framed(reply);
      f.line.SendToHost(bytes.data(), bytes.size(), f.clock.Ticks() + 2);
    }
    return std::nullopt;
  };
  const std::vector<uint8_t> data(200, 0x5A);
  bool done = false;
  if (c.chunks) {
    ChunkWindow window;
    done = SendBufferedChunks(f.link, window, data.data(), data.size());
  } else {
    ProgramWindow window;
    done = SendWindowedProgram(f.link, window, 0x4000, data.data(), 128, false) &&
           SendWindowedProgram(f.link, window, 0x4080, data.data(), 128, false) &&
           SendWindowedProgram(f.link, window, 0x4100, data.data(), 128, false) &&
           DrainProgramWindow(f.link, window);
  }
  EXPECT_EQ(done, c.succeeds);
  EXPECT_NE(f.Console().find(c.text), std::string::npos) << f.Console();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LateReplyTest,
    ::testing::Values(
        // Sequence 1's reply retires both writes before sequence 0's refusal.
        ReplyCase{"RefusalBehindAYoungerAcknowledgement",
                  false,
                  {},
                  {Programmed(1, 0x4080, 0), Programmed(0, 0x4000, 5)},
                  {Programmed(2, 0x4100, 0)},
                  false,
                  "cannot write to MCU flash memory. Address=$00004000, Result=05"},
        // Sequence 7 was never sent: it does not acknowledge the window.
        ReplyCase{"ReplyBeyondTheLastSentIsStale",
                  false,
                  {Programmed(7, 0x4380, 0)},
                  {Programmed(0, 0x4000, 0), Programmed(1, 0x4080, 0)},
                  {Programmed(2, 0x4100, 0)},
                  true,
                  "ACK MISSING FOR 0000 - GOT 1 FC45 $1041 0007 $00004380 128"},
        // An echo of offset 0 with the second chunk's length is not the first's.
        ReplyCase{"ChunkEchoOfAnotherLength",
                  true,
                  {Chunk(0, 72)},
                  {Chunk(0, 128), Chunk(128, 72)},
                  {},
                  true,
                  "ACK MISSING FOR 0000 - GOT 1 FC45 $1038 $0000 72"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kel
