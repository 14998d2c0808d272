#include "flash/flash_writer.h"

#include <gtest/gtest.h>

#include "flash/backup_fields.h"
#include "flash/image_selection.h"
#include "flash/programmer_control.h"
#include "runtime/text_format.h"
#include "sim/wire_bytes.h"
#include "tests/flash_fixture.h"

namespace kel {
namespace {

using sim::ReadBe16;
using sim::ReadBe32;

enum class Cut { kSmall, kLarge };

struct WriteCase {
  const char* name;
  Transport transport;
  Cut cut;  ///< kSmall: records cut to 128 bytes, each one 0x1040
};

/// Every boot-loader and software image of the catalogue, with its MCU.
struct CatalogueImageEntry {
  const char* image;
  int8_t mcuType;
};

std::vector<CatalogueImageEntry> FlashImages() {
  std::vector<CatalogueImageEntry> images;
  for (const BootLoaderEntry& e : BootLoaderTable()) images.push_back({e.image, e.mcuType});
  for (const SoftwareEntry& e : SoftwareTable()) images.push_back({e.image, e.mcuType});
  return images;
}

class CatalogueWriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(CatalogueWriteTest, EveryImageLandsInFlash) {
  const WriteCase& c = GetParam();
  for (const CatalogueImageEntry& entry : FlashImages()) {
    SCOPED_TRACE(entry.image);
    FlashFixture f;
    // A unit that takes windowed writes has room for a window of them; the
    // updater still sends at most 128 bytes a request.
    const bool cut = c.cut == Cut::kSmall && c.transport == Transport::kDirect;
    ASSERT_NO_FATAL_FAILURE(f.Reach(c.transport, 18, entry.mcuType, cut ? 128 : 8192));
    ASSERT_NO_FATAL_FAILURE(f.StartProgrammer());
    const ImageRef* ref = CatalogueImage(entry.image);
    RecordImage image;
    ASSERT_TRUE(ref && image.Parse(ref->bytes, ref->size));
    std::vector<uint8_t> small;
    ImageRef written = *ref;
    if (cut) {
      small = Recut(image, 128);
      written = {entry.image, small.data(), static_cast<uint32_t>(small.size())};
    }

    ASSERT_TRUE(WriteFlash(f.link, f.transfer, f.unit, written, {}));
    for (const ImageRecord& r : image.records()) {
      ASSERT_EQ(f.target->flash.Read(r.address, r.length),
                std::vector<uint8_t>(r.data, r.data + r.length))
          << std::hex << r.address;
    }
    // Software is erased as one range first; a boot loader's sectors are
    // erased by the programmer as it writes them.
    const auto erases = f.Requests(0x35);
    const ImageRecord& last = image.records().back();
    if ((last.address & 0xFFFFFF) > 0x4000) {
      ASSERT_EQ(erases.size(), 1u);
      EXPECT_EQ(ReadBe32(erases[0], 4), image.records().front().address);
      EXPECT_EQ(ReadBe32(erases[0], 8), last.address + last.length - 1);
    } else {
      EXPECT_TRUE(erases.empty());
    }
    if (c.transport == Transport::kOverlapped) {
      // Only the first piece of each record that is cut up carries bit 15.
      size_t marked = 0;
      for (const auto& request : f.Requests(0x41)) marked += (request[4] & 0x80) != 0;
      size_t cutUp = 0;
      for (const ImageRecord& r : image.records()) cutUp += r.length > 128;
      EXPECT_EQ(marked, cutUp);
    }
    EXPECT_TRUE(f.transfer.programWindow.empty() && f.transfer.programChunks.empty());
    EXPECT_EQ(f.out.errorReportLevel, 1);
    EXPECT_TRUE(ResetProgrammer(f.link, f.unit));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Transports, CatalogueWriteTest,
    ::testing::Values(WriteCase{"Direct", Transport::kDirect, Cut::kSmall},
                      WriteCase{"Large", Transport::kDirect, Cut::kLarge},
                      WriteCase{"Windowed", Transport::kOverlapped, Cut::kSmall},
                      WriteCase{"Buffered", Transport::kBuffered, Cut::kLarge}),
    [](const auto& info) { return std::string(info.param.name); });

struct Programming : FlashFixture {
  /// An LPC1768 transmitter's programmer running, reached in `transport`.
  void Start(Transport transport, int bufferSize = 8192) {
    ASSERT_NO_FATAL_FAILURE(Reach(transport, 18, mcuLPC1768, bufferSize));
    ASSERT_NO_FATAL_FAILURE(StartProgrammer());
    unit.unitType = unitTypeTransmitter;
  }

  bool Write(const char* name, const WriteBackHook& hook = {}) {
    const ImageRef* ref = CatalogueImage(name);
    return ref && image.Parse(ref->bytes, ref->size) &&
           WriteFlash(link, transfer, unit, *ref, hook);
  }

  bool FlashHoldsImage() const {
    for (const ImageRecord& r : image.records()) {
      if (target->flash.Read(r.address, r.length) !=
          std::vector<uint8_t>(r.data, r.data + r.length)) {
        return false;
      }
    }
    return true;
  }

  /// The 15-bit sequence numbers of the windowed writes, in the order sent.
  std::vector<int> Sequences() {
    std::vector<int> sequences;
    for (const auto& request : Requests(0x41)) sequences.push_back(ReadBe16(request, 4) & 0x7FFF);
    return sequences;
  }

  RecordImage image;
};

struct WriteTest : ::testing::Test, Programming {};

TEST_F(WriteTest, OneReplyRetiresEveryOlderWindowedWrite) {
  Start(Transport::kOverlapped);
  Fault("drop-reply command=0x1041 at=4 times=2");  // sequences 3 and 4
  ASSERT_TRUE(Write("soft_kt3_lpc1768"));
  EXPECT_TRUE(FlashHoldsImage());
  const std::vector<int> sequences = Sequences();
  for (size_t i = 0; i < sequences.size(); ++i) ASSERT_EQ(sequences[i], static_cast<int>(i));
  EXPECT_EQ(Console().find("ACK MISSING"), std::string::npos);
}

TEST_F(WriteTest, WindowedTimeoutSendsEveryOutstandingWriteAgainInOrder) {
  Start(Transport::kOverlapped);
  Fault("drop-request command=0x1041 at=4");  // sequence 3 never arrives
  ASSERT_TRUE(Write("soft_kt3_lpc1768"));
  EXPECT_TRUE(FlashHoldsImage());
  const std::vector<int> sequences = Sequences();
  const std::vector<int> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  ASSERT_GE(sequences.size(), expected.size());
  EXPECT_EQ(std::vector<int>(sequences.begin(), sequences.begin() + 20), expected);
  EXPECT_NE(Console().find("ACK MISSING FOR 0003 - GOT 0 FC00 $0000 0000 $00000000 0\r\n"),
            std::string::npos)
      << Console();
}

TEST_F(WriteTest, LateWindowedRepliesCostNoLostWritesAndNoTimeouts) {
  options.programmingBaudRate = 921600;
  Start(Transport::kOverlapped);
  target->windowedRepliesLate = true;  // every other reply overtaken by the next
  const uint32_t start = clock.Ticks();
  ASSERT_TRUE(Write("soft_kr3_lpc1768"));
  EXPECT_TRUE(FlashHoldsImage());
  EXPECT_LT(clock.Ticks() - start, 5000u);  // the line alone needs 2.8 s
  size_t lost = 0;
  for (const auto& entry : network->transcript().entries()) {
    lost += entry.note.find("window full") != std::string::npos;
  }
  EXPECT_EQ(lost, 0u);
}

struct FailureCase {
  const char* name;
  Transport transport;
  uint8_t command;
  const char* address;  ///< of the refused block, as reported
};

class HardwareFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(HardwareFailureTest, NonZeroResultStopsAtOnce) {
  const FailureCase& c = GetParam();
  Programming f;
  ASSERT_NO_FATAL_FAILURE(f.Start(c.transport));
  f.Fault("hardware-failure command=0x10" + Hex(c.command, 2) + " at=3 value=5");
  EXPECT_FALSE(f.Write("soft_kt3_lpc1768"));
  EXPECT_NE(f.Console().find("\r\nUnit reported hardware failure, cannot write to MCU flash "
                             "memory. Address=" +
                             std::string(c.address) + ", Result=05\r\n"),
            std::string::npos)
      << f.Console();
  if (c.transport == Transport::kDirect) {
    EXPECT_EQ(f.Requests(c.command).size(), 3u);  // no retry, nothing after
  }
  EXPECT_EQ(f.Console().find("Bytes sent"), std::string::npos);
  EXPECT_EQ(f.out.errorReportLevel, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Transports, HardwareFailureTest,
    ::testing::Values(FailureCase{"Direct", Transport::kDirect, 0x42, "$00008000"},
                      FailureCase{"Windowed", Transport::kOverlapped, 0x41, "$00004100"},
                      FailureCase{"Buffered", Transport::kBuffered, 0x3A, "$00008000"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WriteTest, RecordLongerThanTheBufferIsRefusedBeforeTheErase) {
  Start(Transport::kDirect, 1024);
  EXPECT_EQ(ExitCodeOf([&] { Write("soft_kt3_lpc1768"); }), 1);
  EXPECT_NE(Console().find(
                "Fatal Error: Unable to program unit: internal error (buffer size is too small)"),
            std::string::npos);
  EXPECT_TRUE(Requests(0x35).empty());
  EXPECT_TRUE(Requests(0x42).empty() && Requests(0x40).empty());
  EXPECT_EQ(out.errorReportLevel, 1);
}

TEST_F(WriteTest, ABufferSizeOfZeroIsRefusedBeforeAnythingIsWritten) {
  Start(Transport::kOverlapped);
  unit.bufferSize = 0;  // would cut every record into empty pieces without end
  EXPECT_EQ(ExitCodeOf([&] { Write("soft_kt3_lpc1768"); }), 1);
  EXPECT_NE(Console().find("Fatal Error: Unable to program unit: the unit reports a buffer size "
                           "of 0"),
            std::string::npos);
  EXPECT_TRUE(Requests(0x35).empty() && Requests(0x41).empty());
}

TEST_F(WriteTest, AnUnansweredEraseSaysItStillWaits) {
  Start(Transport::kDirect);
  Fault("drop-reply command=0x1035 times=0");
  EXPECT_FALSE(Write("soft_kt3_lpc1768"));
  size_t lines = 0;
  const std::string console = Console();
  const std::string line = "-- the unit has not answered the erase yet, asking again\r\n";
  for (size_t at = console.find(line); at != std::string::npos; at = console.find(line, at + 1)) {
    ++lines;
  }
  // One for every attempt of 10 s that is followed by another: nothing is
  // asked again after the eighth.
  EXPECT_EQ(lines, 7u) << console;
  EXPECT_TRUE(Requests(0x42).empty());
}

struct BackupCase {
  const char* name;
  int8_t mcuType;
  uint8_t unitType;
  Transport transport;
  uint32_t regionStart;
  size_t regionSize;
};

class BackupTest : public ::testing::TestWithParam<BackupCase> {};

TEST_P(BackupTest, FieldsSurviveABootLoaderRewrite) {
  const BackupCase& c = GetParam();
  FlashFixture f;
  ASSERT_NO_FATAL_FAILURE(f.Reach(c.transport, 18, c.mcuType, 8192));
  ASSERT_NO_FATAL_FAILURE(f.StartProgrammer());
  const std::vector<uint8_t> fields = sim::testing::Pattern(c.regionSize, 11);
  f.target->flash.Write(c.regionStart, fields);
  f.unit.unitType = c.unitType;
  ASSERT_TRUE(SelectBootLoaderImage(f.runtime, f.unit));
  ASSERT_TRUE(ReadBackupFields(f.link, f.transfer, f.unit));

  const WriteBackHook hook = [&f](UnitInfo& u) { return WriteBackupFields(f.link, f.transfer, u); };
  ASSERT_TRUE(WriteFlash(f.link, f.transfer, f.unit, *f.unit.bootLoaderImage, hook));
  EXPECT_EQ(f.target->flash.Read(c.regionStart, c.regionSize), fields);
  RecordImage image;
  ASSERT_TRUE(image.Parse(f.unit.bootLoaderImage->bytes, f.unit.bootLoaderImage->size));
  for (const ImageRecord& r : image.records()) {
    EXPECT_EQ(f.target->flash.Read(r.address, r.length),
              std::vector<uint8_t>(r.data, r.data + r.length));
  }
  // Written back after the first block and before the code that follows it.
  const std::string console = f.Console();
  const size_t first = console.find("Programming " + HexAddress(image.records()[0].address));
  const size_t back = console.find("Writing backup fields");
  const size_t second = console.find("Programming " + HexAddress(image.records()[1].address));
  EXPECT_LT(first, back);
  EXPECT_LT(back, second);
  EXPECT_EQ(console.find("ACK MISSING"), std::string::npos);  // nothing in flight met them
}

INSTANTIATE_TEST_SUITE_P(
    Units, BackupTest,
    ::testing::Values(BackupCase{"Lpc1768Large", mcuLPC1768, unitTypeTransmitter,
                                 Transport::kDirect, 0x300, 256},
                      BackupCase{"Lpc1768Windowed", mcuLPC1768, unitTypeTransmitter,
                                 Transport::kOverlapped, 0x300, 256},
                      BackupCase{"Lpc4357Large", mcuLPC4357, unitTypeDisplay, Transport::kDirect,
                                 0x1A000400, 512},
                      BackupCase{"Lpc4357Windowed", mcuLPC4357, unitTypeDisplay,
                                 Transport::kOverlapped, 0x1A000400, 512}),
    [](const auto& info) { return std::string(info.param.name); });

// A refused write-back does not stop the boot loader halfway: every record
// is written, and the write fails after it.
TEST(BackupRefusal, EveryPieceAndEveryRecordIsSentThenTheWriteFails) {
  FlashFixture f;
  ASSERT_NO_FATAL_FAILURE(f.Reach(Transport::kDirect, 18, mcuLPC1768, 8192));
  ASSERT_NO_FATAL_FAILURE(f.StartProgrammer());
  f.unit.unitType = unitTypeTransmitter;
  ASSERT_TRUE(SelectBootLoaderImage(f.runtime, f.unit));
  ASSERT_TRUE(ReadBackupFields(f.link, f.transfer, f.unit));
  f.Fault("hardware-failure command=0x1050 at=1 value=5");

  const WriteBackHook hook = [&f](UnitInfo& u) { return WriteBackupFields(f.link, f.transfer, u); };
  EXPECT_FALSE(WriteFlash(f.link, f.transfer, f.unit, *f.unit.bootLoaderImage, hook));
  EXPECT_TRUE(f.transfer.imageWritten);
  EXPECT_TRUE(f.transfer.writeBackFailed);
  EXPECT_EQ(f.Requests(0x50).size(), 2u);  // the second piece still went
  RecordImage image;
  ASSERT_TRUE(image.Parse(f.unit.bootLoaderImage->bytes, f.unit.bootLoaderImage->size));
  for (const ImageRecord& r : image.records()) {
    EXPECT_EQ(f.target->flash.Read(r.address, r.length),
              std::vector<uint8_t>(r.data, r.data + r.length))
        << std::hex << r.address;
  }
  EXPECT_NE(f.Console().find("\r\nUnit reported hardware failure, cannot write the backup fields. "
                             "Address=$00000300, Result=05\r\n"),
            std::string::npos)
      << f.Console();
  EXPECT_EQ(f.out.errorReportLevel, 1);
}

}  // namespace
}  // namespace kel
