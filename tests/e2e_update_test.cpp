// End to end: the real program updates simulated units served on
// pseudo-terminals by the simulator program, and the simulator's dump of
// flash, files and versions afterwards shows what the units hold (POSIX
// only).
#if !defined(_WIN32)

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
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
  void Serve(const std::string& units) {
    fs::remove_all(home.File("dump"));
    StartSim("[port]\nnumber = 3\n" + units, 3);
  }

  /// Stops the simulator, which writes its dump.
  void Dump() { StopSim(); }

  std::string UnitFolder(const std::string& unit) { return home.File("dump") + "/com3/" + unit; }

  std::vector<uint8_t> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }

  /// Whether the dumped flash of `unit` holds every record of the catalogue
  /// image `name` (each in its bank: from 0, or 0x1A000000 and 0x1B000000).
  bool HoldsImage(const std::string& unit, const char* name) {
    const ImageRef* image = CatalogueImage(name);
    RecordImage records;
    if (image == nullptr || !records.Parse(image->bytes, image->size)) return false;
    for (const ImageRecord& r : records.records()) {
      const uint32_t base = r.address >= 0x1A000000 ? r.address & 0xFF000000 : 0;
      const std::vector<uint8_t> flash = Bytes(UnitFolder(unit) + "/flash-" + Hex8(base) + ".bin");
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

  /// The outcome and message columns of the history rows from `first` on.
  std::vector<std::string> Outcomes(size_t first = 0) {
    std::vector<std::string> outcomes;
    const auto rows = HistoryRows();
    for (size_t i = first; i < rows.size(); ++i) {
      outcomes.push_back(rows[i].size() == 15 ? rows[i][4] + " " + rows[i][12] + ": " + rows[i][13]
                                              : "malformed row");
    }
    return outcomes;
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
  UsePrivateCopy();
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

  // One history row per run, each with the unit's outcome; the versions as
  // the report shows them (software before 6.00 reports no release).
  const auto rows = HistoryRows();
  EXPECT_EQ(Outcomes(), (std::vector<std::string>{"4 updated: ", "4 up to date: ",
                                                  "4 update files sent: "}));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(rows[0].begin() + 3, rows[0].begin() + 12),
            (std::vector<std::string>{"COM3", "4", "KT3 Transmitter", "c648r1-0", rows[0][7],
                                      "v5.90r00", "v6.10r57", "v4 r18", "v4 r18"}));
  // Under -y the units were restarted and confirmed it: they run it now.
  EXPECT_EQ(rows[2][9], "v6.10r57");
}

// The KD4 and its two KT5 get update files. A no to the first question ends
// the run with the link back at its speed; otherwise the units apply the
// files at once or at their next restart, as the operator chose.
struct FieldCase {
  const char* keys;
  int exitCode;
  bool restart;
};
void PrintTo(const FieldCase& c, std::ostream* os) { *os << "keys " << c.keys; }

// Each case a test of its own: a whole network update takes a while, and
// ctest runs them side by side.
class FieldUpdateRun : public UpdateRun, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(FieldUpdateRun, FieldUpdateOfAKd4WithTwoKt5) {
  const FieldCase c = GetParam();
  Serve(kKd4WithTwoKt5);
  ASSERT_EQ(RunAnswering("3", c.keys), c.exitCode) << output;
  EXPECT_TRUE(Has("Ponderix Unit(s) found:\r\n")) << output;
  // Restarted units apply their update files once their restart is over.
  if (c.restart) std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  Dump();
  if (c.exitCode != 0) {
    EXPECT_TRUE(Has("-- stopped")) << output;
    EXPECT_FALSE(Has("Downloading software updates"));
    EXPECT_EQ(State("kd4", "baud"), "19200");
    return;
  }
  EXPECT_TRUE(Has("Ponderix Unit: 3 updated\r\n")) << output;
  EXPECT_TRUE(Has("Ponderix Unit: 10 updated\r\n"));
  EXPECT_TRUE(Has("Ponderix Unit: 12 updated\r\n"));
  EXPECT_TRUE(Has("Success: all operations are complete\r\n"));
  EXPECT_EQ(Has("Software update will be applied the next time Ponderix is restarted\r\n"),
            !c.restart);
  for (const char* unit : {"left", "right"}) {
    EXPECT_EQ(State(unit, "software"), c.restart ? "6.10r57" : "6.08r12") << unit;
    EXPECT_EQ(HoldsImage(unit, "soft_kt5_lpc4337"), c.restart) << unit;
    EXPECT_TRUE(HoldsLanguageFiles(unit, 659, mcuLPC4337)) << unit;
  }
  EXPECT_EQ(State("kd4", "software"), c.restart ? "6.10r57" : "6.08r12");
  EXPECT_EQ(HoldsImage("kd4", "soft_kd4_lpc4337"), c.restart);
  // Applied, the resource list is in the resource drive; pending, it
  // waits in drive 1.
  EXPECT_EQ(fs::exists(FilePath("kd4", 177, 0)), c.restart);
  EXPECT_EQ(fs::exists(FilePath("kd4", 1, 0x104)), !c.restart);
  if (!c.restart) {
    EXPECT_EQ(State("kd4", "baud"), "19200");  // the link speed put back
  }
}

INSTANTIATE_TEST_SUITE_P(Answers, FieldUpdateRun,
                         ::testing::Values(FieldCase{"n", 1, false}, FieldCase{"yn", 0, false},
                                           FieldCase{"yy", 0, true}),
                         [](const ::testing::TestParamInfo<FieldCase>& info) {
                           return std::string(info.param.keys);
                         });

// The operator chose the restart but ResetSystem went unanswered (lost on
// its way, or its reply lost): the run says so, ends apart from a success
// and leaves the KD4 at the speed it was found at; when that speed change is
// lost too, the operator is told which speed to put the unit back to.
struct UnconfirmedRestartCase {
  const char* name;
  const char* faults;
  const char* baud;
};
void PrintTo(const UnconfirmedRestartCase& c, std::ostream* os) { *os << c.name; }

class UnconfirmedRestartRun : public UpdateRun,
                              public ::testing::WithParamInterface<UnconfirmedRestartCase> {};

TEST_P(UnconfirmedRestartRun, AnUnconfirmedSystemRestartIsNoSuccessAndPutsTheSpeedBack) {
  const UnconfirmedRestartCase c = GetParam();
  std::string units = kKd4WithTwoKt5;
  units.replace(units.find("modbus = 10\n"), 12, "modbus = 10\nbaud = 38400\n");
  Serve(c.faults + units);
  EXPECT_EQ(Run("-y 3"), 3) << output;
  EXPECT_TRUE(Has("The restart of the Ponderix units was not confirmed\r\n")) << output;
  EXPECT_TRUE(Has("Software update will be applied the next time Ponderix is restarted\r\n"));
  EXPECT_TRUE(Has("Complete: the restart was not confirmed\r\n"));
  EXPECT_FALSE(Has("Success")) << output;
  const bool stuck = std::string(c.baud) != "38400";
  EXPECT_EQ(Has("Warning: the connected unit could not be put back to 38400 baud\r\n"), stuck)
      << output;
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // a restart under way ends
  Dump();
  EXPECT_EQ(State("kd4", "baud"), c.baud);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UnconfirmedRestartRun,
    ::testing::Values(
        UnconfirmedRestartCase{"RequestLost", "fault = drop-request command=0x1018 times=0\n", "38400"},
        UnconfirmedRestartCase{"ReplyLost", "fault = drop-reply command=0x1018 times=0\n", "38400"},
        UnconfirmedRestartCase{"SpeedChangeLostToo",
                               "fault = drop-request command=0x1018 times=0\n"
                               "fault = drop-request command=0x1030 at=2 times=0\n",
                               "115200"}),
    [](const ::testing::TestParamInfo<UnconfirmedRestartCase>& info) {
      return std::string(info.param.name);
    });

// A run that moved the KD4 to the programming speed and then ends any way
// but the normal one (a fatal error, a stop signal) puts it back at the
// speed it was found at, and keeps its own message and exit code.
TEST_F(UpdateRun, EveryWayOutLeavesTheConnectedUnitAtItsSpeed) {
  struct Case {
    const char* name;
    std::string units;
    const char* job;  // parameter file lines, or empty
    const char* arguments;
    int signal;  // 0: none
    int signalAfterMs;
    int exitCode;
    const char* line;
  };
  const std::string kd4 = std::string(kKd4WithTwoKt5) +
                          "[unit odd]\nplace = network\ncard = 999\n"
                          "modbus = 20\n";
  // The right KT5 does not answer while the units are listed for -x: a few
  // seconds at the programming speed.
  const std::string slowListing =
      std::string("fault = drop-reply command=0x1010 unit=right times=0\n") + kKd4WithTwoKt5;
  const Case cases[] = {
      {"fatal during -x", kd4, "", "-x -y 3", 0, 0, 1,
       "Fatal Error: Unsupported Card Number: 999\r\n"},
      {"production job without its unit", kKd4WithTwoKt5,
       "KelManufacture=1\r\nProgram=1\r\nUnitType=IOUnit\r\nMcuType=LPC1768\r\n", "-y job.ini 3", 0,
       0, 2, "Fatal Error: Unable to find a Ponderix unit to update"},
      {"SIGINT during -x", slowListing, "", "-x -y 3", SIGINT, 2500, 1, "\r\n-- stopped\r\n"},
      {"SIGTERM during the network update", kKd4WithTwoKt5, "", "-y 3", SIGTERM, 1500, 1,
       "\r\n-- stopped\r\n"},
      // The KD4 takes each speed change but no reply comes back: the run
      // gives up with the link at the old speed and the unit at the new one.
      {"speed-change replies lost during -x",
       std::string("fault = drop-reply command=0x1030 times=0\n") + kKd4WithTwoKt5, "", "-x -y 3",
       0, 0, 1, "Fatal Error: Unable to change baud rate\r\n"},
  };
  UsePrivateCopy();  // extracted logs go beside the program
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Serve(c.units);
    if (*c.job != '\0') {
      ASSERT_TRUE(WriteTextFile(home.File("job.ini"), c.job));
    }
    const int code =
        c.signal != 0 ? RunAndSignal(c.arguments, c.signalAfterMs, c.signal) : Run(c.arguments);
    EXPECT_EQ(code, c.exitCode) << output;
    EXPECT_TRUE(Has(c.line)) << output;
    EXPECT_TRUE(fs::is_empty(lockDir()));
    Dump();
    EXPECT_EQ(State("kd4", "baud"), "19200");
  }
}

// A run killed while the KD4 is at the programming speed cannot put it
// back; the note it left of the speed it found the unit at lets the next
// run (here a mere -i) leave the unit there, and that run removes the note.
// A note changed in any way (a speed no unit runs, another unit's card)
// moves nothing: the unit stays where it was found.
TEST_F(UpdateRun, TheNextRunPutsBackAUnitThatAKilledRunLeftElsewhere) {
  const struct {
    const char* name;
    const char* from;  // text of the note replaced by `to`, or empty
    const char* to;
    const char* baud;
    bool noteLeft;
  } cases[] = {
      {"the killed run's note", "", "", "19200", false},
      {"a speed no unit runs", "19200 ", "19201 ", "115200", true},
      {"another unit's note", " 653 ", " 659 ", "115200", true},
      // The unit has been set to another speed since: the note is old.
      {"a unit found elsewhere than noted", " 115200 ", " 57600 ", "115200", false},
      // A link standing at the note's name is neither obeyed nor removed.
      {"a link", "link", "", "115200", true},
  };
  const std::string note = home.File("config") + "/Arkwend/Ponderix/FoundSpeedCOM3";
  // The right KT5 does not answer while the units are listed for -x: a few
  // seconds at the programming speed.
  const std::string slowListing =
      std::string("fault = drop-reply command=0x1010 unit=right times=0\n") + kKd4WithTwoKt5;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(note);
    Serve(slowListing);
    RunAndSignal("-x -y 3", 2500, SIGKILL);
    std::string text = ReadTextFile(note);
    ASSERT_EQ(text.rfind("19200 115200 N ", 0), 0u) << text;
    if (std::string(c.from) == "link") {
      fs::remove(note);
      ASSERT_TRUE(WriteTextFile(note + ".held", text));
      fs::create_symlink(note + ".held", note);
    } else if (*c.from != '\0') {
      ASSERT_NE(text.find(c.from), std::string::npos) << text;
      text.replace(text.find(c.from), std::string(c.from).size(), c.to);
      ASSERT_TRUE(WriteTextFile(note, text));
    }
    EXPECT_EQ(Run("-i 3"), 0) << output;
    EXPECT_EQ(Has("-- the unit was left at 115200 baud by an earlier run: putting it back to "
                  "19200 baud\r\n"),
              c.baud == std::string("19200"))
        << output;
    EXPECT_EQ(fs::exists(fs::symlink_status(note)), c.noteLeft);
    Dump();
    EXPECT_EQ(State("kd4", "baud"), c.baud);
  }
}

// Outcomes of a plain run that are not a full update.
TEST_F(UpdateRun, RefusalsAndPartialUpdates) {
  struct Case {
    const char* units;
    const char* arguments;
    int exitCode;
    std::vector<const char*> lines;
    bool softwareSent;
    std::vector<std::string> history;
  };
  const Case cases[] = {
      {kKt5WithOldBootLoaderBehind,
       "-y 3",
       3,
       {"Ponderix Unit 8 must have boot loader release 14 or later for remote update.\r\n",
        "IMPORTANT: Please connect the serial port to the COM1 RS232 port on the unit and run "
        "KelUpdater again to update unit 8\r\n",
        "Unable to update Ponderix Unit: 8\r\n", "Complete: some units could not be updated\r\n"},
       true,
       {"5 update files sent: ",
        "8 refused: Ponderix Unit 8 must have boot loader release 14 or later for remote update."}},
      {kNewerKt5,
       "-y -f 3",
       0,
       {"The software cannot be downgraded to 6.10r57\r\n",
        "Success: all operations are complete\r\n"},
       false,
       {"5 refused: The software cannot be downgraded to 6.10r57"}},
      {kVcomKt5WithoutUpdateFiles,
       "-y -f 3",
       1,
       {"-- vcom port detected, using update files\r\n",
        "Fatal Error: The unit does not support Update files, which are required on a vcom "
        "port\r\n"},
       false,
       {"5 failed: The unit does not support Update files, which are required on a vcom port"}},
  };
  UsePrivateCopy();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    Serve(c.units);
    const size_t rowsBefore = HistoryRows().size();
    ASSERT_EQ(Run(c.arguments), c.exitCode) << output;
    EXPECT_EQ(Outcomes(rowsBefore), c.history);
    for (const char* line : c.lines) EXPECT_TRUE(Has(line)) << line << "\n" << output;
    EXPECT_FALSE(Has("Preparing to update")) << output;
    // Only the unit that can take update files gets them.
    EXPECT_EQ(Has("Sending software update"), c.softwareSent) << output;
    // A unit restarted at the end is up again once its restart is over.
    if (c.units == kNewerKt5) std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    Dump();
    EXPECT_EQ(fs::exists(FilePath("kt5", 1, 0x103)), c.softwareSent);
    if (c.units == kKt5WithOldBootLoaderBehind) {
      EXPECT_EQ(State("old", "software"), "6.08r12");
      EXPECT_FALSE(fs::exists(FilePath("old", 1, 0x103)));
    }
    // A refused downgrade restarts the unit out of its boot loader, into
    // the software it kept.
    if (c.units == kNewerKt5) {
      EXPECT_EQ(State("kt5", "role"), "application");
      EXPECT_EQ(State("kt5", "software"), "6.20r01");
    }
  }
}

// A KD3 display whose boot loader is too old for the network update is
// updated directly at once, boot loader included, restarted, and then
// updated over the network like any other.
TEST_F(UpdateRun, AnOldKd3IsUpdatedImmediatelyThenOverTheNetwork) {
  Serve(kKd3WithOldBootLoader);
  ASSERT_EQ(Run("-y -d 3"), 0) << output;
  EXPECT_TRUE(
      Has("This KD3 display unit needs to be updated immediately. It will be restarted\r\n"))
      << output;
  EXPECT_TRUE(Has("-- updating boot loader (UpdateBootLoader parameter is true)\r\n"));
  EXPECT_TRUE(Has("Preparing to update Boot Loader...\r\n"));
  const size_t restarted = output.find("restarting unit...\r\n");
  ASSERT_NE(restarted, std::string::npos);
  EXPECT_NE(output.find("Ponderix Unit(s) found:\r\n", restarted), std::string::npos);
  EXPECT_NE(output.find("Ponderix Unit: 2 updated\r\n", restarted), std::string::npos);
  EXPECT_TRUE(Has("Success: all operations are complete\r\n"));
  Dump();
  EXPECT_EQ(State("kd3", "boot-loader"), "4r24");
  EXPECT_TRUE(HoldsImage("kd3", "boot_kd3_lpc2478"));
  EXPECT_TRUE(HoldsLanguageFiles("kd3", 647, mcuLPC2478));
}

}  // namespace
}  // namespace kel

#endif
