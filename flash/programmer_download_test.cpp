#include "flash/programmer_download.h"

#include <gtest/gtest.h>

#include "flash/memory_writer.h"
#include "flash/programmer_speed.h"
#include "runtime/text_format.h"
#include "tests/flash_fixture.h"

namespace kel {
namespace {

std::vector<uint8_t> Bytes(const ImageRecord& record) {
  return std::vector<uint8_t>(record.data, record.data + record.length);
}

struct DownloadCase {
  const char* name;
  Transport transport;
  int release;  ///< 17 keeps an overlapped window at 1, 18 opens it to 8
  bool verify;
};

class CatalogueDownloadTest : public ::testing::TestWithParam<DownloadCase> {};

TEST_P(CatalogueDownloadTest, EveryProgrammerLandsInRamAndAnswers) {
  const DownloadCase& c = GetParam();
  for (const ProgrammerEntry& entry : ProgrammerTable()) {
    // Overlapped transfer keeps the buffer at 128, which refuses the large ones.
    if (entry.large && c.transport == Transport::kOverlapped) continue;
    SCOPED_TRACE(entry.image);
    FlashFixture f;
    // A boot loader that takes overlapped writes has room for a window of
    // them; the record keeps 128 while overlapped.
    const bool large = entry.large || c.transport == Transport::kOverlapped;
    ASSERT_NO_FATAL_FAILURE(f.Reach(c.transport, c.release, entry.mcuType, large ? 8192 : 128));
    f.transfer.verify = c.verify;
    f.options.debug = false;  // the dots alone on their line
    RecordImage image;
    const ImageRef* ref = CatalogueImage(entry.image);
    ASSERT_TRUE(ref && image.Parse(ref->bytes, ref->size));

    ASSERT_TRUE(DownloadProgrammer(f.link, f.transfer, f.unit, ref, ""));
    for (const ImageRecord& r : image.records()) {
      ASSERT_EQ(f.Ram(r.address, r.length), Bytes(r)) << std::hex << r.address;
    }
    EXPECT_EQ(f.target->role, sim::SimRole::kProgrammer);
    EXPECT_EQ(f.target->programStart, image.startAddress());
    EXPECT_EQ(f.unit.connectionMode, modeFlashProgrammer);
    EXPECT_EQ(f.unit.programmerVersion[0], f.target->programmerVersionMajor);
    // Through a proxy the programmer is told so.
    EXPECT_EQ(f.target->programmerConfig, c.transport == Transport::kBuffered ? 1 : 0);
    EXPECT_TRUE(f.transfer.writeWindow.empty() && f.transfer.downloadChunks.empty());
    EXPECT_EQ(f.out.errorReportLevel, 1);
    EXPECT_FALSE(f.port.settings().hardwareHandshake);
    EXPECT_NE(f.Console().find(std::string(60, '.') + "\r\n"), std::string::npos);
    EXPECT_EQ(f.Console().find(std::string(61, '.')), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Transports, CatalogueDownloadTest,
    ::testing::Values(DownloadCase{"DirectVerified", Transport::kDirect, 18, true},
                      DownloadCase{"Window1", Transport::kOverlapped, 17, false},
                      DownloadCase{"Window8", Transport::kOverlapped, 18, false},
                      DownloadCase{"Buffered", Transport::kBuffered, 18, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct DownloadTest : ::testing::Test, FlashFixture {
  /// Serves an LPC1768 boot loader whose buffer holds `bufferSize` bytes.
  void ReachLpc1768(Transport transport, int bufferSize = 8192) {
    ASSERT_NO_FATAL_FAILURE(Reach(transport, 18, mcuLPC1768, bufferSize));
  }

  /// Downloads a programmer made of `records`.
  bool Download(const std::vector<sim::testing::TestRecord>& records) {
    bytes = sim::testing::BuildRecordImage(kRamStart, records);
    image = {"programmer", bytes.data(), static_cast<uint32_t>(bytes.size())};
    return DownloadProgrammer(link, transfer, unit, &image, "");
  }

  /// `count` records of `size` bytes from the RAM start.
  static std::vector<sim::testing::TestRecord> Records(size_t count, size_t size) {
    std::vector<sim::testing::TestRecord> records;
    for (size_t i = 0; i < count; ++i) {
      records.push_back({static_cast<uint32_t>(kRamStart + i * size),
                         sim::testing::Pattern(size, static_cast<uint32_t>(i))});
    }
    return records;
  }

  bool RamHolds(const std::vector<sim::testing::TestRecord>& records) const {
    for (const auto& r : records) {
      if (Ram(r.address, r.data.size()) != r.data) return false;
    }
    return true;
  }

  size_t Count(const std::string& text) {
    const std::string all = Console();
    size_t n = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
    return n;
  }

  std::vector<uint8_t> bytes;
  ImageRef image;
};

TEST_F(DownloadTest, LostAcknowledgementResendsTheOldestWrite) {
  ReachLpc1768(Transport::kOverlapped);
  Fault("drop-reply command=0x1020 at=3");
  const auto records = Records(12, 100);
  ASSERT_TRUE(Download(records));
  EXPECT_TRUE(RamHolds(records));
  // The third write went twice; the younger echoes waited for it.
  const auto writes = Requests(0x20);
  ASSERT_EQ(writes.size(), 13u);
  EXPECT_EQ(writes[10], writes[2]);
  EXPECT_NE(Console().find("ACK MISSING FOR 100000C8 - GOT 0 FC00 $0000 $00000000 0\r\n"),
            std::string::npos)
      << Console();
  EXPECT_NE(Console().find("ACK MISSING FOR 100000C8 - GOT 1 FC45 $1020 $1000012C 100\r\n"),
            std::string::npos);
}

TEST_F(DownloadTest, TwentyLostRepliesEndTheTransferWithNothingStarted) {
  ReachLpc1768(Transport::kOverlapped);
  Fault("drop-reply command=0x1020 times=0");
  EXPECT_FALSE(Download(Records(3, 100)));
  EXPECT_EQ(Count("ACK MISSING FOR 10000000"), 20u);
  EXPECT_NE(Console().find("FAILED\r\n"), std::string::npos);
  EXPECT_EQ(Console().find("Bytes sent"), std::string::npos);
  EXPECT_TRUE(Requests(0x22).empty());
  EXPECT_EQ(unit.connectionMode, modePonderixBootLoader);
  EXPECT_EQ(out.errorReportLevel, 1);
}

TEST_F(DownloadTest, EarlyAcknowledgementRetiresBothWritesWithoutWaiting) {
  ReachLpc1768(Transport::kOverlapped);
  Fault("late command=0x1020 value=50");
  const auto records = Records(2, 100);
  const uint32_t start = clock.Ticks();
  ASSERT_TRUE(Download(records));
  EXPECT_TRUE(RamHolds(records));
  EXPECT_EQ(Requests(0x20).size(), 2u);
  EXPECT_EQ(Count("ACK MISSING FOR"), 1u);
  EXPECT_LT(clock.Ticks() - start, 1000u);  // no reply was waited out
}

// The first chunk's echo comes 1.5 s late, after its repeat had retired
// it and the block was committed; the next block's first chunk never
// reaches the unit. The late echo has that chunk's offset and length, but
// is not taken for its answer: the chunk goes again and the second block
// lands whole, not over the first block's bytes.
TEST_F(DownloadTest, ALateChunkEchoDoesNotPassForTheNextBlocksChunk) {
  ReachLpc1768(Transport::kBuffered);
  Fault("late command=0x1038 at=1 value=1500");
  Fault("drop-request command=0x1038 at=4");
  const auto records = Records(2, 256);
  ASSERT_TRUE(Download(records));
  EXPECT_TRUE(RamHolds(records)) << Console();
}

// The advice fits the unit: one with software gets it back by a power
// cycle, one without stays in its boot loader whatever is done to it.
TEST_F(DownloadTest, ProgrammerLargerThanTheBufferIsRefusedBeforeAnythingIsSent) {
  const struct {
    uint8_t bootFlags;
    const char* advice;
    const char* wrongAdvice;
  } cases[] = {
      {0x02, "The unit is left in its boot loader: switch it off and on again", "no software"},
      {0x03,
       "The unit has no software and stays in its boot loader: have its boot loader "
       "updated before its software is loaded.\r\n",
       "off and on again"},
  };
  ReachLpc1768(Transport::kDirect, 1024);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.advice);
    console.ClearOutput();
    unit.bootFlags = c.bootFlags;
    auto records = Records(1, 128);
    records.push_back({kRamStart + 128, sim::testing::Pattern(8192, 9)});
    EXPECT_EQ(ExitCodeOf([&] { Download(records); }), 1);
    EXPECT_NE(Console().find("The unit takes requests of up to 1024 bytes; the flash programmer "
                             "needs 8192.\r\n" +
                             std::string(c.advice)),
              std::string::npos)
        << Console();
    EXPECT_EQ(Console().find(c.wrongAdvice), std::string::npos) << Console();
    EXPECT_NE(Console().find("Fatal Error: Unable to update unit: buffer size is too small"),
              std::string::npos);
    EXPECT_TRUE(Requests(0x20).empty());
    EXPECT_TRUE(Requests(0x23).empty());
    EXPECT_TRUE(target->ram.empty());
    EXPECT_EQ(out.errorReportLevel, 1);
  }
}

TEST_F(DownloadTest, LargeRecordTurnsOverlappedAndVerifyOffForGood) {
  ReachLpc1768(Transport::kOverlapped);
  unit.bufferSize = 8192;
  transfer.verify = true;
  auto records = Records(3, 100);
  records.push_back({kRamStart + 300, sim::testing::Pattern(8192, 7)});
  records.push_back({kRamStart + 300 + 8192, sim::testing::Pattern(100, 8)});
  ASSERT_TRUE(Download(records));
  EXPECT_TRUE(RamHolds(records));
  EXPECT_EQ(Count("-- overlapped mode turned off (using large packets)\r\n"), 1u);
  EXPECT_EQ(Requests(0x24).size(), 1u);
  EXPECT_EQ(Requests(0x20).size(), 4u);
  EXPECT_TRUE(Requests(0x21).empty());
  EXPECT_FALSE(state.overlappedActive);
  EXPECT_FALSE(transfer.verify);
}

TEST_F(DownloadTest, ExamineMemoryFindsACorruptedByte) {
  ReachLpc1768(Transport::kDirect);
  const std::vector<uint8_t> expected = sim::testing::Pattern(200, 3);
  std::vector<uint8_t> corrupted = expected;
  corrupted[133] ^= 0x5A;
  target->ram.Write(kRamStart, corrupted.data(), corrupted.size());
  EXPECT_FALSE(ExamineMemory(link, kRamStart, expected.data(), expected.size()));
  EXPECT_NE(Console().find("Examine returned different data at 10000085 got " +
                           Hex(expected[133] ^ 0x5A, 2) + " expected " + Hex(expected[133], 2)),
            std::string::npos)
      << Console();
  EXPECT_NE(Console().find("Verify error\r\n"), std::string::npos);
  EXPECT_EQ(Requests(0x21).size(), 1u + 8u);  // the good first piece, the bad one 8 times
}

TEST(ProgrammerVerify, ReadsTheProgrammerBackUnlessTheBootLoaderCannot) {
  struct Case {
    int version;        ///< of the boot loader; version 1 cannot examine memory
    const char* fault;  ///< on the examine replies
    bool downloads;
  };
  for (const Case& c :
       {Case{4, "", true}, Case{1, "", true}, Case{4, "corrupt command=0x1021 times=0", false}}) {
    SCOPED_TRACE(std::to_string(c.version) + c.fault);
    FlashFixture f;
    ASSERT_NO_FATAL_FAILURE(f.Reach(Transport::kDirect, 18, mcuLPC1768, 8192));
    if (*c.fault != '\0') f.Fault(c.fault);
    f.unit.bootLoaderVersion = static_cast<int8_t>(c.version);
    f.transfer.verify = true;
    const std::vector<uint8_t> bytes = sim::testing::BuildRecordImage(
        FlashFixture::kRamStart, {{FlashFixture::kRamStart, sim::testing::Pattern(200, 4)}});
    const ImageRef image{"programmer", bytes.data(), static_cast<uint32_t>(bytes.size())};
    EXPECT_EQ(DownloadProgrammer(f.link, f.transfer, f.unit, &image, ""), c.downloads);
    const bool examined = c.version != 1;
    EXPECT_EQ(f.Requests(0x21).size(), examined ? (c.downloads ? 2u : 8u) : 0u);
    EXPECT_EQ(f.Console().find("Verifying programmer...\r\n") != std::string::npos, examined);
    EXPECT_EQ(f.Requests(0x22).empty(), !c.downloads);  // never started unverified
    EXPECT_EQ(f.out.errorReportLevel, 1);
  }
}

struct SpeedCase {
  int release;
  uint8_t command;  ///< of the boot loader's speed request
  uint8_t code;     ///< for 921600
};

class ProgrammerSpeedTest : public ::testing::TestWithParam<SpeedCase> {};

TEST_P(ProgrammerSpeedTest, CodesFollowTheBootLoaderRelease) {
  const SpeedCase& c = GetParam();
  FlashFixture f;
  f.options.programmingBaudRate = 921600;
  ASSERT_NO_FATAL_FAILURE(f.Reach(Transport::kDirect, c.release, mcuLPC1768, 1024));
  ASSERT_NO_FATAL_FAILURE(f.StartProgrammer());
  const auto requests = f.Requests(c.command);
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.front()[4], c.code);
  // The started programmer always takes the new codes.
  EXPECT_EQ(requests.back()[4], 8);
  EXPECT_EQ(f.port.settings().baudRate, 921600);
}

INSTANTIATE_TEST_SUITE_P(Releases, ProgrammerSpeedTest,
                         ::testing::Values(SpeedCase{10, 0x90, 9}, SpeedCase{14, 0x23, 9},
                                           SpeedCase{15, 0x23, 8}));

TEST_F(DownloadTest, ASpeedChangeThroughAProxyWaitsAsLongAsEveryQuickProbeThere) {
  ReachLpc1768(Transport::kBuffered);
  options.detailedDebug = true;
  ASSERT_TRUE(SetProgrammerSpeed(link, unit, 921600, false));
  EXPECT_NE(Console().find("proxy baud rate = 115200 (no change) timeout=100ms"), std::string::npos)
      << Console();
  EXPECT_EQ(Console().find("timeout=50ms"), std::string::npos);
}

TEST_F(DownloadTest, UnknownRateListsTheRatesAndUses115200) {
  ReachLpc1768(Transport::kDirect);
  EXPECT_TRUE(SetProgrammerSpeed(link, unit, 100000, false));
  EXPECT_NE(Console().find("Unknown baudrate: 100000\r\nAvailable baudrates are: 9600 19200 "
                           "38400 57600 115200 230400 460800 921600\r\nUsing 115200\r\n"),
            std::string::npos)
      << Console();
  EXPECT_EQ(port.settings().baudRate, 115200);
}

}  // namespace
}  // namespace kel
