#include "files/remote_file_access.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/files_fixture.h"

namespace kel {
namespace {

constexpr uint16_t kRemoteFile = 0x1E0;

std::vector<uint32_t> Offsets(const std::vector<BlockSeen>& blocks) {
  std::vector<uint32_t> offsets;
  for (const BlockSeen& b : blocks) offsets.push_back(b.offset);
  return offsets;
}

bool Has(FilesFixture& f, const std::string& text) {
  return f.Console().find(text) != std::string::npos;
}

TEST(RemoteFileAccess, WritesAFileInBlocksOf128InTheFormTheUnitTakes) {
  struct Case {
    size_t size;
    bool highSpeed;
    bool connectedTakesH;
    uint8_t service;
  };
  const Case cases[] = {
      {0, false, true, 0},        // create and close, no data packets
      {1000, false, true, 0x47},  // seven blocks of 128 and one of 104
      {1000, true, true, 0x48},   // "H" for a file opened with it
      {1000, true, false, 0x47},  // but not when the connected unit is older
  };
  for (const Case& c : cases) {
    FilesFixture f;
    f.Start();
    f.state.software604OrLater = c.connectedTakesH;
    const std::vector<uint8_t> data = FilePattern(c.size);
    ASSERT_TRUE(f.WriteWhole(kRemoteFile, data, c.highSpeed)) << c.size << f.Console();
    EXPECT_EQ(f.UnitFile(1, kRemoteFile), data);
    const std::vector<BlockSeen> blocks = f.Blocks();
    ASSERT_EQ(blocks.size(), c.size == 0 ? 0u : 8u);
    for (size_t i = 0; i < blocks.size(); ++i) {
      EXPECT_EQ(blocks[i].service, c.service);
      EXPECT_EQ(blocks[i].offset, i * 128);
      EXPECT_EQ(blocks[i].length, i < 7 ? 128 : 104);
    }
    EXPECT_TRUE(Has(f, "-- remote file access window size = 8\r\n"));
    EXPECT_TRUE(Has(f, "RPC: CreateFile FileNo=01E0 DriveNo=01 in Unit 5\r\n"));
    EXPECT_FALSE(Has(f, "MISSING")) << f.Console();
  }
}

TEST(RemoteFileAccess, OneAcknowledgementRetiresEveryBlockUpToItsOffset) {
  FilesFixture f;
  f.Start();
  // The first four acknowledgements are lost; the fifth covers them.
  f.Fault("drop-reply service=0x47 command=0x32 times=4");
  const std::vector<uint8_t> data = FilePattern(1000);
  ASSERT_TRUE(f.WriteWhole(kRemoteFile, data)) << f.Console();
  EXPECT_EQ(f.Blocks().size(), 8u);  // nothing sent again
  EXPECT_FALSE(Has(f, "MISSING"));
  EXPECT_FALSE(Has(f, "NACK"));
  EXPECT_EQ(f.UnitFile(1, kRemoteFile), data);
}

TEST(RemoteFileAccess, ANegativeAcknowledgementResendsFromTheOldestBlock) {
  FilesFixture f;
  f.Start();
  // The second block never arrives, so the unit refuses the ones after it.
  f.Fault("drop-request service=0x47 command=0x32 at=2");
  const std::vector<uint8_t> data = FilePattern(1000);
  ASSERT_TRUE(f.WriteWhole(kRemoteFile, data)) << f.Console();
  const std::vector<uint32_t> offsets = Offsets(f.Blocks());
  ASSERT_GT(offsets.size(), 9u);
  EXPECT_EQ(offsets[8], 128u);  // the oldest outstanding, not the refused one
  EXPECT_TRUE(Has(f, "NACK FOR 00000080 - GOT 01.01E000000100\r\n")) << f.Console();
  EXPECT_EQ(f.UnitFile(1, kRemoteFile), data);
}

TEST(RemoteFileAccess, AMissingAcknowledgementResendsTheOldestBlock) {
  FilesFixture f;
  f.Start();
  f.Fault("drop-reply service=0x47 command=0x32 at=8");
  const std::vector<uint8_t> data = FilePattern(1000);
  ASSERT_TRUE(f.WriteWhole(kRemoteFile, data)) << f.Console();
  EXPECT_EQ(Offsets(f.Blocks()).back(), 896u);
  EXPECT_EQ(f.Blocks().size(), 9u);
  EXPECT_TRUE(
      Has(f, "no data received from comm port\r\nACK MISSING FOR 00000380 - GOT nothing\r\n"))
      << f.Console();
  EXPECT_EQ(f.UnitFile(1, kRemoteFile), data);
}

TEST(RemoteFileAccess, ResendPassesGrowUntilTheUnitAnswersOrTheyRunOut) {
  struct Case {
    const char* fault;
    bool written;
    size_t lastSent;  ///< times the last block went
  };
  const Case cases[] = {
      // Its acknowledgement lost three times: pass 2 on a reopened port,
      // pass 3 sends it twice.
      {"drop-reply service=0x47 command=0x32 at=8 times=3", true, 5},
      // A unit that falls silent: twenty passes, then the write fails.
      {"silence service=0x47 command=0x32 at=8 value=600000", false, 1 + 1 + 1 + 18 * 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    FilesFixture f;
    f.Start();
    f.options.detailedDebug = true;
    f.Fault(c.fault);
    const std::vector<uint8_t> data = FilePattern(1000);
    EXPECT_EQ(f.WriteWhole(kRemoteFile, data), c.written);
    const std::vector<uint32_t> offsets = Offsets(f.Blocks());
    EXPECT_EQ(static_cast<size_t>(std::count(offsets.begin(), offsets.end(), 896u)), c.lastSent);
    EXPECT_TRUE(Has(f, "ChangeBaudRate opening comm port: 3")) << f.Console();  // pass 2
    EXPECT_EQ(Has(f, "FAILED\r\n"), !c.written);
    if (c.written) {
      EXPECT_EQ(f.UnitFile(1, kRemoteFile), data);
    }
  }
}

TEST(RemoteFileAccess, AHardwareFailureStopsTheWriteWithItsOffset) {
  FilesFixture f;
  f.Start();
  f.Fault("hardware-failure service=0x47 command=0x32 at=3");
  EXPECT_FALSE(f.WriteWhole(kRemoteFile, FilePattern(1000)));
  EXPECT_TRUE(Has(f,
                  "\r\nUnit reported hardware failure, cannot write to flash drive. "
                  "Address=$00000100, Result=01\r\n"))
      << f.Console();
  EXPECT_FALSE(f.files.openForWriting());
}

// Reads the open test file block by block, as the log copy does, until the
// unit gives 0 bytes; false when a read fails.
bool ReadToTheEnd(FilesFixture& f, std::vector<uint8_t>& read) {
  uint8_t block[kFileBlockSize];
  for (uint32_t offset = 0;;) {
    uint8_t length = kFileBlockSize;
    if (!f.files.ReadFileRemote(5, 1, kRemoteFile, offset, length, block)) return false;
    if (length == 0) return true;
    read.insert(read.end(), block, block + length);
    offset += length;
  }
}

TEST(RemoteFileAccess, ReadsAheadAndMatchesRepliesByOffset) {
  for (const char* fault : {"", "drop-reply service=0x47 command=0x30 at=3"}) {
    FilesFixture f;
    f.Start();
    if (*fault != '\0') f.Fault(fault);
    const std::vector<uint8_t> data = FilePattern(1000);
    f.target->files.Put(1, kRemoteFile, data);
    uint8_t result = 1;
    ASSERT_TRUE(f.files.OpenFile(5, 1, kRemoteFile, false, result));
    ASSERT_EQ(result, 0);
    std::vector<uint8_t> read;
    ASSERT_TRUE(ReadToTheEnd(f, read)) << f.Console();
    EXPECT_TRUE(f.files.CloseFile(5, 1, kRemoteFile, result));
    EXPECT_EQ(read, data);
    // Eight requests go out before the first reply is awaited.
    const std::vector<uint32_t> asked = Offsets(f.Blocks('0'));
    ASSERT_GE(asked.size(), 8u);
    EXPECT_EQ(std::vector<uint32_t>(asked.begin(), asked.begin() + 8),
              (std::vector<uint32_t>{0, 128, 256, 384, 512, 640, 768, 896}));
    EXPECT_EQ(Has(f, "READ MISSING FOR 0000010001.01E0\r\n"), *fault != '\0') << f.Console();
  }
}

// A unit slow to answer (each read reply 30 ms late): the reads asked
// ahead past a short last block keep their places in the window, so the
// unit never has more than 8 to answer and drops none, and the end of the
// file costs no timeout. Files that end in a short block and in a full one.
TEST(RemoteFileAccess, NeverMoreThanEightReadsInFlight) {
  for (size_t size : {46u, 5000u, 1024u}) {
    SCOPED_TRACE(size);
    FilesFixture f;
    f.Start();
    f.Fault("late service=0x47 value=30 times=0");
    const std::vector<uint8_t> data = FilePattern(size);
    f.target->files.Put(1, kRemoteFile, data);
    uint8_t result = 1;
    ASSERT_TRUE(f.files.OpenFile(5, 1, kRemoteFile, false, result));
    const uint32_t start = f.clock.Ticks();
    std::vector<uint8_t> read;
    ASSERT_TRUE(ReadToTheEnd(f, read)) << f.Console();
    EXPECT_TRUE(f.files.CloseFile(5, 1, kRemoteFile, result));
    EXPECT_EQ(read, data);
    EXPECT_FALSE(Has(f, "MISSING")) << f.Console();
    EXPECT_LT(f.clock.Ticks() - start, 1000u);
    size_t lost = 0;
    for (const auto& entry : f.network.transcript().entries()) {
      lost += entry.note.find("window full") != std::string::npos;
    }
    EXPECT_EQ(lost, 0u);
  }
}

TEST(RemoteFileAccess, AFlashThatCannotBeReadFailsTheRead) {
  FilesFixture f;
  f.Start("card = 659\nsoftware = 6.10r57\nmodbus = 5\naddress = 5\nflash-failure = 1\n");
  f.target->files.Put(1, kRemoteFile, FilePattern(300));
  uint8_t result = 1;
  ASSERT_TRUE(f.files.OpenFile(5, 1, kRemoteFile, false, result));
  uint8_t block[kFileBlockSize];
  uint8_t length = kFileBlockSize;
  EXPECT_FALSE(f.files.ReadFileBlock(5, 1, kRemoteFile, 128, length, block));
  EXPECT_FALSE(f.files.ReadFileRemote(5, 1, kRemoteFile, 0, length, block));
  const std::string failure =
      "\r\nUnit reported hardware failure, cannot read from flash drive. Address=$";
  EXPECT_TRUE(Has(f, failure + "00000080\r\n")) << f.Console();
  EXPECT_TRUE(Has(f, failure + "00000000\r\n"));
}

TEST(RemoteFileAccess, ClosingAFileNeverOpenedSaysSoAndStillCloses) {
  FilesFixture f;
  f.Start();
  f.target->files.Put(1, kRemoteFile, FilePattern(10));
  uint8_t result = 1;
  EXPECT_TRUE(f.files.CloseFile(5, 1, kRemoteFile, result));
  EXPECT_TRUE(Has(f, "ERROR: not open\r\nRPC: CloseFile FileNo=01E0 DriveNo=01 in Unit 5\r\n"));
}

TEST(RemoteFileAccess, APropertiesBlockOf240BytesIsAnInternalError) {
  FilesFixture f;
  f.Start();
  f.target->files.Put(1, kRemoteFile, FilePattern(10));
  uint8_t result = 1;
  EXPECT_TRUE(f.files.SetFileProperties(5, 1, kRemoteFile, std::vector<uint8_t>(239, 0), result));
  EXPECT_EQ(f.ExitCodeOf([&] {
    f.files.SetFileProperties(5, 1, kRemoteFile, std::vector<uint8_t>(240, 0), result);
  }),
            1);
}

}  // namespace
}  // namespace kel
