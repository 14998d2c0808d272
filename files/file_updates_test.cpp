#include "files/file_updates.h"

#include <gtest/gtest.h>

#include "files/check_values.h"
#include "runtime/text_format.h"
#include "sim/file_checksums.h"
#include "tests/files_fixture.h"
#include "tests/unit_fixture.h"

namespace kel {
namespace {

constexpr uint16_t kFile = 0x1E3;

struct FileUpdateFixture : FilesFixture {
  FileUpdateFixture() {
    Start();
    unit.connectionMode = modeApplication;
  }
  bool Has(const std::string& text) { return Console().find(text) != std::string::npos; }

  /// From the next OpenFile on, the unit's copy of `file` holds a wrong
  /// byte at `offset`, as a flash that lost a bit would.
  void DamageWhenOpened(uint16_t file, size_t offset) {
    tap->onFrame = [this, file, offset](const std::vector<uint8_t>& frame) {
      if (frame.size() > 4 && frame[1] == 0x45 && frame[2] == 0x10 && frame[3] == 0x26) {
        target->files.Find(1, file)->data.at(offset) ^= 0x10;
      }
    };
  }
};

TEST(FileUpdates, AFileWithoutItsCrcIsRewrittenAndThenUpToDate) {
  FileUpdateFixture f;
  const std::vector<uint8_t> data = FilePattern(1000);
  f.target->files.Put(1, kFile, data);  // same bytes, no CRC stored
  ASSERT_TRUE(FileIsDifferent(f.files, f.unit, 1, kFile, data, true));
  EXPECT_TRUE(f.Has("Current file CRC=0000\r\n")) << f.Console();
  EXPECT_TRUE(f.Has("Properties Length=0\r\n"));
  EXPECT_FALSE(f.Has(" Properties Length="));
  EXPECT_TRUE(f.Has(" CRC is different\r\n"));

  ASSERT_TRUE(UpdateFile(f.files, f.unit, 1, kFile, data, true)) << f.Console();
  const uint16_t crc = FileCrcNumber(data.data(), data.size());
  EXPECT_EQ(f.target->files.Find(1, kFile)->properties, CrcProperties(crc));
  EXPECT_TRUE(f.Has("Updating Ponderix file 01:01E3 1000 bytes\r\n"));
  EXPECT_TRUE(f.Has("Bytes sent = "));

  f.console.ClearOutput();
  EXPECT_FALSE(FileIsDifferent(f.files, f.unit, 1, kFile, data, true));
  EXPECT_TRUE(f.Has("-- Ponderix file 01:01E3 is up to date\r\n")) << f.Console();
}

TEST(FileUpdates, TheComparisonWritesWhatItCannotShowIsEqual) {
  struct Case {
    const char* what;
    bool writeAlways;
    bool present;
    uint8_t changed;  // a byte of the unit's copy differs
    bool different;
    const char* says;
  };
  const Case cases[] = {
      {"-w asks nothing", true, true, 0, true, nullptr},
      {"missing file", false, false, 0, true, nullptr},
      {"other bytes", false, true, 1, true, "-- Ponderix file 01:01E3 checksums are different\r\n"},
      {"same bytes", false, true, 0, false, "-- Ponderix file 01:01E3 is up to date\r\n"},
  };
  for (const Case& c : cases) {
    FileUpdateFixture f;
    f.options.writeAlways = c.writeAlways;
    const std::vector<uint8_t> data = FilePattern(300);
    std::vector<uint8_t> copy = data;
    copy[200] ^= c.changed;
    if (c.present) f.target->files.Put(1, kFile, copy);
    f.network.transcript().Clear();
    EXPECT_EQ(FileIsDifferent(f.files, f.unit, 1, kFile, data, false), c.different) << c.what;
    if (c.says) {
      EXPECT_TRUE(f.Has(c.says)) << c.what << f.Console();
    }
    EXPECT_EQ(f.network.transcript().entries().empty(), c.writeAlways) << c.what;
  }
}

TEST(FileUpdates, AnUpdateFileCarriesItsCheckValueAsOneMoreBlock) {
  struct Case {
    CheckMode mode;
    size_t extra;
  };
  for (const Case& c :
       {Case{CheckMode::kNone, 0}, Case{CheckMode::kCrc, 2}, Case{CheckMode::kFletcher, 4}}) {
    FileUpdateFixture f;
    const std::vector<uint8_t> data = FilePattern(300);
    ASSERT_TRUE(SendUpdateFile(f.files, f.unit, 1, 0x103, data, c.mode)) << f.Console();
    const std::vector<BlockSeen> blocks = f.Blocks();
    ASSERT_EQ(blocks.size(), c.extra == 0 ? 3u : 4u);
    EXPECT_EQ(blocks[2].length, 44);
    std::vector<uint8_t> stored = f.UnitFile(1, 0x103);
    ASSERT_EQ(stored.size(), 300 + c.extra);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), stored.begin()));
    if (c.mode == CheckMode::kFletcher) {
      // The unit's own check of a software update file.
      EXPECT_EQ(blocks[3].offset, 300u);
      const uint32_t sum = sim::Fletcher32(data.data(), data.size());
      EXPECT_EQ(
          std::vector<uint8_t>(stored.begin() + 300, stored.end()),
          (std::vector<uint8_t>{static_cast<uint8_t>(sum >> 24), static_cast<uint8_t>(sum >> 16),
                                static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum)}));
    }
    if (c.mode == CheckMode::kCrc) {
      // CRC over the data and its CRC, low byte first, comes out 0.
      EXPECT_EQ(wire::Crc(stored), 0);
    }
  }
}

TEST(FileUpdates, VerifyingAFileEndsTheRunAtItsFirstDifference) {
  FileUpdateFixture f;
  f.options.verify = true;
  f.DamageWhenOpened(kFile, 133);
  EXPECT_EQ(f.ExitCodeOf([&] { UpdateFile(f.files, f.unit, 1, kFile, FilePattern(300), true); }),
            1);
  EXPECT_TRUE(f.Has("Verifying $00000080(128)\r\n"));
  EXPECT_TRUE(f.Has("Fatal Error: Verify file failed at 0000008005")) << f.Console();
}

TEST(FileUpdates, VerifyingAnUpdateFileReportsEachDifferenceAndGoesOn) {
  FileUpdateFixture f;
  f.options.verify = true;
  const std::vector<uint8_t> data = FilePattern(300);
  f.DamageWhenOpened(0x102, 133);
  EXPECT_TRUE(SendUpdateFile(f.files, f.unit, 1, 0x102, data, CheckMode::kFletcher));
  EXPECT_TRUE(f.Has("Verifying file...\r\n"));
  EXPECT_TRUE(f.Has("File difference at 133 expected:" + Hex(data[133], 2) +
                    " got:" + Hex(data[133] ^ 0x10, 2) + "\r\n"))
      << f.Console();
  EXPECT_TRUE(f.Has("Bytes received = "));
}

TEST(FileUpdates, AVerifyReadThatFailsStillClosesTheFile) {
  FileUpdateFixture f;
  f.options.verify = true;
  f.Fault("hardware-failure command=0x1027 at=1");  // the unit cannot read its flash
  EXPECT_FALSE(SendUpdateFile(f.files, f.unit, 1, 0x102, FilePattern(300), CheckMode::kNone));
  EXPECT_TRUE(f.Has("cannot read from flash drive. Address=$00000000\r\n")) << f.Console();
  EXPECT_FALSE(f.files.openForReading());
  const std::string console = f.Console();
  EXPECT_GT(console.rfind("RPC: CloseFile"), console.rfind("RPC: ReadFileBlock"));
}

TEST(FileUpdates, AUnitInItsBootLoaderIsNotInTheModeForFiles) {
  FileUpdateFixture f;
  f.unit.connectionMode = modePonderixBootLoader;
  EXPECT_EQ(f.ExitCodeOf([&] { UpdateFile(f.files, f.unit, 1, kFile, FilePattern(10), true); }), 1);
  EXPECT_TRUE(
      f.Has("Fatal Error: Cannot perform this operation, the unit is not in the correct mode"));
}

}  // namespace
}  // namespace kel
