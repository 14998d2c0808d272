// End to end: the real program updates simulated units served on
// pseudo-terminals by the simulator program, and the simulator's dump of
// flash, files and versions afterwards shows what the units hold (POSIX
// only).
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "flash/image_catalogue.h"
#include "flash/record_image.h"
#include "flash/unit_files.h"
#include "tests/e2e_fixture.h"
#include "tests/update_units.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

class UpdateRun : public ProgramRunFixture {
 protected:
  void SetUp() override {
    if (!HaveSimulator()) GTEST_SKIP() << "the simulator program is not part of this build";
    ProgramRunFixture::SetUp();
    simArguments = "--dump " + Quoted(home.File("dump"));
  }

  /// Serves `units` on COM3.
  void Serve(const std::string& units) { StartSim("[port]\nnumber = 3\n" + units, 3); }

  /// Stops the simulator, which writes its dump.
  void Dump() { StopSim(); }

  std::string UnitFolder(const std::string& unit) { return home.File("dump") + "/com3/" + unit; }

  std::vector<uint8_t> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }

  /// Whether the dumped flash of `unit` (bank at `base`) holds every record
  /// of the catalogue image `name`.
  bool HoldsImage(const std::string& unit, const char* name, uint32_t base = 0) {
    const ImageRef* image = CatalogueImage(name);
    RecordImage records;
    if (image == nullptr || !records.Parse(image->bytes, image->size)) return false;
    const std::vector<uint8_t> flash = Bytes(UnitFolder(unit) + "/flash-" + Hex8(base) + ".bin");
    for (const ImageRecord& r : records.records()) {
      const size_t at = r.address - base;
      if (at + r.length > flash.size() ||
          !std::equal(r.data, r.data + r.length, flash.begin() + static_cast<long>(at))) {
        return false;
      }
    }
    return true;
  }

  /// Whether the unit's file set (language, image, fonts; not fieldbus)
  /// is in its drive 1 exactly as embedded.
  bool HoldsLanguageFiles(const std::string& unit, uint16_t card, int8_t mcu) {
    const UnitFileSet set = UnitFilesForCard(card, mcu);
    for (const UnitFile& file : set.languageFiles) {
      if (Bytes(FilePath(unit, 1, file.fileNumber)) !=
          std::vector<uint8_t>(file.data, file.data + file.size)) {
        return false;
      }
    }
    return !set.languageFiles.empty();
  }

  std::string FilePath(const std::string& unit, int drive, uint16_t file) {
    char name[64];
    std::snprintf(name, sizeof name, "/drive-%03d/file-%04X.bin", drive, file);
    return UnitFolder(unit) + name;
  }

  /// A `key = value` line of the unit's dumped state.
  std::string State(const std::string& unit, const std::string& key) {
    const std::string text = ReadTextFile(UnitFolder(unit) + "/unit.txt");
    const size_t at = text.find(key + " = ");
    if (at == std::string::npos) return "";
    const size_t from = at + key.size() + 3;
    return text.substr(from, text.find('\n', from) - from);
  }

  static std::string Hex8(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
  }

  size_t Count(const std::string& text) const {
    size_t n = 0;
    for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1))
      ++n;
    return n;
  }
};

// The KT3 at 5.90 is updated directly; run again it has nothing to do; with
// -w everything is written again.
TEST_F(UpdateRun, DirectUpdateOfAnOldKt3ThenNothingThenEverythingAgain) {
  Serve(kOldKt3);
  ASSERT_EQ(Run("-y 3"), 0) << output;
  EXPECT_TRUE(Has("Do you wish to upgrade") == false) << output;  // -y answers
  EXPECT_TRUE(Has("-- ponderix software will be updated to 6.10r57\r\n")) << output;
  EXPECT_FALSE(Has("-- ponderix boot loader will be updated"));
  EXPECT_TRUE(Has("restarting unit...\r\n"));
  EXPECT_TRUE(Has("Success: all operations are complete\r\n"));

  ASSERT_EQ(Run("-y -d 3"), 0) << output;
  EXPECT_TRUE(Has("-- ponderix software is already the correct version\r\n")) << output;
  EXPECT_FALSE(Has("Sending")) << output;
  EXPECT_FALSE(Has("CreateFile")) << output;
  EXPECT_TRUE(Has("Success: all operations are complete\r\n"));

  ASSERT_EQ(Run("-y -w -d 3"), 0) << output;
  EXPECT_TRUE(Has("-- updating ponderix software because -w command line option specified\r\n"))
      << output;
  EXPECT_TRUE(Has("Sending software update to unit...\r\n")) << output;
  EXPECT_EQ(Count("RPC: CreateFile"), 7u + 2u) << output;  // language files, software, programmer
  Dump();
  EXPECT_TRUE(HoldsImage("kt3", "soft_kt3_lpc1768"));
  EXPECT_TRUE(HoldsLanguageFiles("kt3", 648, mcuLPC1768));
  EXPECT_EQ(State("kt3", "software"), "6.10r57");
  EXPECT_EQ(State("kt3", "boot-loader"), "4r18");
}

}  // namespace
}  // namespace kel

#endif
