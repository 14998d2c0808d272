#include "sim/scenario.h"

#include <gtest/gtest.h>

#include <string>

namespace kel::sim {
namespace {

std::string ErrorOf(const std::string& text) {
  Scenario s;
  std::string error;
  EXPECT_FALSE(ParseScenario(text, s, error)) << text;
  return error;
}

TEST(SimScenario, ReadsEveryFieldOfAUnit) {
  const std::string text =
      "# comment\n"
      "[port]\nnumber = 7\nline-model = yes\nfault = late command=0x1010 value=200\n"
      "[unit kt3]\n"
      "place = connected\ncard = 648\ncircuit = 6\nsuffix = B1\nproduct = 0x0102\n"
      "software = 6.06r35\nbuild = -3\nserial = 123456\nmodbus = 9\nflags = 0xC1\n"
      "built = 2025-12-31 23:59:58\ninfo =  Silo 2 \ndebug-logs = 0x200 513\n"
      "boot-loader = 3r14\nboot-flags = 0x82\nbuffer-size = 512\nbaud = 38400\nparity = even\n"
      "vcom = yes\ncts = 250\nrestart-ms = 50\nnot-ready-ms = 70\nchecksum = 0xAA30E654\ncrc = "
      "0x5F8A\n"
      "file = 1 0x0131 a\\nb\nprogrammer-buffer-size = 8192\nprogrammer-version = 4.2\n"
      "request-us = 40\nprogram-page-us = 1100\nerase-sector-ms = 90\n";
  Scenario s;
  std::string error;
  ASSERT_TRUE(ParseScenario(text, s, error)) << error;
  EXPECT_EQ(s.portNumber, 7);
  EXPECT_TRUE(s.lineModel);
  ASSERT_EQ(s.faults.size(), 1u);
  EXPECT_EQ(s.faults[0].kind, FaultKind::kLateReply);
  ASSERT_EQ(s.units.size(), 1u);
  const SimUnit& u = s.units[0].unit;
  EXPECT_EQ(u.cardNumber, 648);
  EXPECT_EQ(u.mcuType, 4);  // KT3 from circuit 6 on carries an LPC4078
  EXPECT_EQ(u.suffixLetter, 2);
  EXPECT_EQ(u.suffixNumber, 1);
  EXPECT_EQ(u.softwareVersion, 606);
  EXPECT_EQ(u.softwareRelease, 35);
  EXPECT_EQ(u.buildIncrement, -3);
  EXPECT_EQ(u.unitAddress, 9);  // the Modbus address unless given
  EXPECT_EQ(u.buildTime, (std::array<uint8_t, 6>{25, 12, 31, 23, 59, 58}));
  EXPECT_EQ(u.informationText, "Silo 2");
  EXPECT_EQ(u.debugLogFiles, (std::vector<uint16_t>{0x200, 0x201}));
  EXPECT_EQ(u.bootLoaderVersion, 3);
  EXPECT_EQ(u.bootLoaderRelease, 14);
  EXPECT_TRUE(u.applicationEvenParity);
  EXPECT_EQ(u.cts, CtsBehaviour::kAfterDelay);
  EXPECT_EQ(u.ctsDelayMs, 250u);
  ASSERT_NE(u.files.Find(1, 0x131), nullptr);
  EXPECT_EQ(u.files.Find(1, 0x131)->data, (std::vector<uint8_t>{'a', '\r', '\n', 'b'}));
  EXPECT_EQ(u.bufferSize, 512);
  EXPECT_EQ(u.programmerBufferSize, 8192);
  EXPECT_EQ(u.programmerVersionMajor, 4);
  EXPECT_EQ(u.programmerVersionMinor, 2);
  EXPECT_EQ(u.timing.requestUs, 40u);
  EXPECT_EQ(u.timing.programPageUs, 1100u);
  EXPECT_EQ(u.timing.eraseSectorMs, 90u);
}

TEST(SimScenario, RejectsBadInputNamingTheLine) {
  EXPECT_EQ(ErrorOf("[unit a]\nplace = connected\nbud = 9600\n"), "line 3: unknown key 'bud'");
  EXPECT_EQ(ErrorOf("card = 648\n"), "line 1: 'card' outside a section");
  EXPECT_EQ(ErrorOf("[unit a]\ncard = 70000\n"),
            "line 2: bad value '70000' for 'card' (0 to 65535)");
  EXPECT_EQ(ErrorOf("[unit a]\nsoftware = 6.1\n"),
            "line 2: bad value '6.1' for 'software' (like 6.10r57)");
  EXPECT_EQ(ErrorOf("[unit a]\nserial = 99999999999\n"),
            "line 2: bad value '99999999999' for 'serial' (a 32-bit number)");
  EXPECT_EQ(ErrorOf("[unit a]\nmodbus = -1\n"), "line 2: bad value '-1' for 'modbus' (0 to 255)");
  EXPECT_EQ(ErrorOf("[unit a]\n[unit a]\n"), "line 2: unit name 'a' used twice");
  EXPECT_EQ(ErrorOf("[unit a\n"), "line 1: section header without ']'");
  EXPECT_EQ(ErrorOf("[unit a]\njust words\n"), "line 2: expected 'key = value' or '[section]'");
  EXPECT_EQ(ErrorOf("[port]\nfault = explode\n"), "line 2: unknown fault kind 'explode'");
  EXPECT_EQ(ErrorOf("[unit a]\nplace = network\n"), "no unit with 'place = connected'");
  EXPECT_EQ(ErrorOf("[unit a]\n[unit b]\n"), "more than one unit with 'place = connected'");
  EXPECT_EQ(ErrorOf("[unit a]\n[unit b]\nplace = jig-port\n"),
            "line 2: 'place = jig-port' needs a connected unit with 'jig = yes'");
  EXPECT_EQ(ErrorOf("[unit a]\n[unit b]\nplace = network\n[unit c]\nplace = network\n"),
            "line 4: two network units share address 1");
  EXPECT_EQ(ErrorOf(std::string("[unit a]\ninfo = x\0y\n", 19)),
            "scenario contains a NUL byte (not a text file?)");
  EXPECT_EQ(ErrorOf("[unit a]\ninfo = " + std::string(5000, 'x') + "\n"),
            "line 2: line longer than 4096 characters");
}

TEST(SimScenario, ShippedScenariosLoad) {
  for (const char* name : {"demo", "kt3_network", "boot_loader", "blank_chip", "kj3_jig"}) {
    Scenario s;
    std::string error;
    EXPECT_TRUE(
        LoadScenario(std::string(KEL_SOURCE_DIR) + "/sim/scenarios/" + name + ".scn", s, error))
        << error;
  }
  Scenario s;
  std::string error;
  EXPECT_FALSE(LoadScenario("/nonexistent/x.scn", s, error));
  EXPECT_EQ(error, "/nonexistent/x.scn: cannot open");
}

}  // namespace
}  // namespace kel::sim
