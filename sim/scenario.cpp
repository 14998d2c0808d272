#include "sim/scenario.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "sim/scenario_values.h"
#include "sim/role_reply.h"

namespace kel::sim {

namespace {

// Limits that keep a hostile file from costing much.
constexpr size_t kMaxScenarioBytes = 4u * 1024u * 1024u;
constexpr size_t kMaxLineLength = 4096;
constexpr size_t kMaxUnits = 120;
constexpr size_t kMaxDebugLogs = 255;

struct McuName {
  const char* name;
  uint8_t code;
};
constexpr McuName kMcuNames[] = {{"H8S2148", 1}, {"H8S2145", 2}, {"LPC2478", 3}, {"LPC4078", 4},
                                 {"LPC1768", 5}, {"LPC4337", 6}, {"LPC4357", 7}};

class Parser {
 public:
  explicit Parser(Scenario& scenario) : s_(scenario) {}

  bool Line(int number, const std::string& raw, std::string& error) {
    line_ = number;
    if (raw.size() > kMaxLineLength) return Fail(error, "line longer than 4096 characters");
    std::string text = raw;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    const std::string t = Trim(text);
    if (t.empty() || t[0] == '#' || t[0] == ';') return true;
    if (t[0] == '[') return OpenSection(t, error);
    const size_t eq = t.find('=');
    if (eq == std::string::npos) return Fail(error, "expected 'key = value' or '[section]'");
    const std::string key = Lower(Trim(t.substr(0, eq)));
    const std::string value = Trim(t.substr(eq + 1));
    if (key.empty()) return Fail(error, "missing key before '='");
    if (section_ == Section::kNone) return Fail(error, "'" + key + "' outside a section");
    if (section_ == Section::kPort) return PortKey(key, value, error);
    return UnitKey(key, value, error);
  }

  bool Finish(std::string& error) {
    for (auto& su : s_.units) {
      if (!addressGiven_.count(&su - s_.units.data())) su.unit.unitAddress = su.unit.modbusAddress;
      if (!mcuGiven_.count(&su - s_.units.data())) {
        const uint8_t mcu = McuTypeOfCard(su.unit.cardNumber, su.unit.circuitCode);
        if (mcu != 0) su.unit.mcuType = mcu;
      }
      su.unit.baudRate = su.unit.applicationBaud;
      su.unit.evenParity = su.unit.applicationEvenParity;
      su.unit.role = su.unit.startRole;
      // Boot flag bit 0 says the unit holds no application software.
      if (su.unit.bootFlags & kNoSoftwareFlag) {
        if (su.unit.startRole == SimRole::kApplication) {
          return FailAt(error, su.line,
                        "boot flag bit 0 (no software) on a unit that starts in its application");
        }
        su.unit.softwarePresent = false;
      }
      for (const auto& [line, step] : su.preload) {
        std::string why;
        if (!ApplyPreload(step, s_.baseDir, su.unit, why)) return FailAt(error, line, why);
      }
    }
    int connected = 0;
    const ScenarioUnit* jig = nullptr;
    const ScenarioUnit* behind = nullptr;
    std::set<int> networkAddresses;
    for (const auto& su : s_.units) {
      if (su.place == SimNetwork::Place::kConnected) {
        ++connected;
        if (su.unit.isJig) jig = &su;
      }
      if (su.place == SimNetwork::Place::kJigPort) {
        if (behind) return FailAt(error, su.line, "a second unit on the jig's port");
        behind = &su;
      }
      if (su.place == SimNetwork::Place::kNetwork) {
        if (su.unit.startRole != SimRole::kApplication) {
          return FailAt(error, su.line, "a unit on the network must start in its application");
        }
        if (!networkAddresses.insert(su.unit.unitAddress).second) {
          return FailAt(error, su.line,
                        "two network units share address " + std::to_string(su.unit.unitAddress));
        }
      }
    }
    if (connected == 0) {
      error = "no unit with 'place = connected'";
      return false;
    }
    if (connected > 1) {
      error = "more than one unit with 'place = connected'";
      return false;
    }
    if (behind && !jig)
      return FailAt(error, behind->line,
                    "'place = jig-port' needs a connected unit with 'jig = yes'");
    return true;
  }

 private:
  enum class Section { kNone, kPort, kUnit };

  bool Fail(std::string& error, const std::string& message) {
    return FailAt(error, line_, message);
  }
  bool FailAt(std::string& error, int line, const std::string& message) {
    error = "line " + std::to_string(line) + ": " + message;
    return false;
  }
  bool BadValue(std::string& error, const std::string& key, const std::string& value,
                const char* want) {
    return Fail(error, "bad value '" + value + "' for '" + key + "' (" + want + ")");
  }

  bool OpenSection(const std::string& t, std::string& error) {
    if (t.back() != ']') return Fail(error, "section header without ']'");
    std::istringstream in(t.substr(1, t.size() - 2));
    std::string kind;
    std::string name;
    std::string extra;
    in >> kind >> name >> extra;
    kind = Lower(kind);
    if (!extra.empty()) return Fail(error, "section header has more than a kind and a name");
    if (kind == "port") {
      if (!name.empty()) return Fail(error, "[port] takes no name");
      section_ = Section::kPort;
      return true;
    }
    if (kind != "unit")
      return Fail(error, "unknown section '" + kind + "' (use [port] or [unit NAME])");
    if (name.empty()) return Fail(error, "[unit] needs a name");
    if (!names_.insert(name).second) return Fail(error, "unit name '" + name + "' used twice");
    if (s_.units.size() >= kMaxUnits) return Fail(error, "too many units");
    ScenarioUnit su;
    su.unit.name = name;
    su.line = line_;
    s_.units.push_back(std::move(su));
    section_ = Section::kUnit;
    return true;
  }

  bool PortKey(const std::string& key, const std::string& value, std::string& error) {
    uint64_t n = 0;
    if (key == "number") {
      if (!ParseUnsigned(value, 255, n) || n == 0) return BadValue(error, key, value, "1 to 255");
      s_.portNumber = static_cast<int>(n);
    } else if (key == "line-model") {
      if (!ParseYesNo(value, s_.lineModel)) return BadValue(error, key, value, "yes or no");
    } else if (key == "adapter") {
      std::string why;
      if (!ParseAdapterSettings(value, s_.adapterSettings, why)) return Fail(error, why);
      s_.adapter = true;
    } else if (key == "processing-ms") {
      if (!ParseUnsigned(value, 10000, n)) return BadValue(error, key, value, "0 to 10000");
      s_.processingMs = static_cast<uint32_t>(n);
    } else if (key == "fault") {
      FaultRule rule;
      std::string why;
      if (!ParseFaultRule(value, rule, why)) return Fail(error, why);
      s_.faults.push_back(rule);
    } else {
      return Fail(error, "unknown key '" + key + "' in [port]");
    }
    return true;
  }

  bool UnitKey(const std::string& key, const std::string& value, std::string& error) {
    ScenarioUnit& su = s_.units.back();
    SimUnit& u = su.unit;
    const size_t index = s_.units.size() - 1;
    uint64_t n = 0;
    int64_t sn = 0;
    auto u8 = [&](uint8_t& field) {
      if (!ParseUnsigned(value, 0xFF, n)) return BadValue(error, key, value, "0 to 255");
      field = static_cast<uint8_t>(n);
      return true;
    };
    auto u16 = [&](uint16_t& field) {
      if (!ParseUnsigned(value, 0xFFFF, n)) return BadValue(error, key, value, "0 to 65535");
      field = static_cast<uint16_t>(n);
      return true;
    };
    auto ms = [&](uint32_t& field) {
      if (!ParseUnsigned(value, 600000, n)) return BadValue(error, key, value, "0 to 600000 ms");
      field = static_cast<uint32_t>(n);
      return true;
    };
    if (key == "place") {
      const std::string v = Lower(value);
      if (v == "connected")
        su.place = SimNetwork::Place::kConnected;
      else if (v == "network")
        su.place = SimNetwork::Place::kNetwork;
      else if (v == "jig-port")
        su.place = SimNetwork::Place::kJigPort;
      else
        return BadValue(error, key, value, "connected, network or jig-port");
    } else if (key == "role") {
      const std::string v = Lower(value);
      if (v == "application")
        u.startRole = SimRole::kApplication;
      else if (v == "boot-loader")
        u.startRole = SimRole::kBootLoader;
      else if (v == "blank-chip")
        u.startRole = SimRole::kBlankChip;
      else
        return BadValue(error, key, value, "application, boot-loader or blank-chip");
    } else if (key == "card") {
      return u16(u.cardNumber);
    } else if (key == "circuit") {
      return u16(u.circuitCode);
    } else if (key == "suffix") {
      // "B1": letter (or "-" for none) and number.
      if (value.empty()) return BadValue(error, key, value, "letter A-Z or '-', then a number");
      const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
      if (c != '-' && (c < 'A' || c > 'Z'))
        return BadValue(error, key, value, "letter A-Z or '-', then a number");
      const std::string rest = value.substr(1);
      if (!rest.empty() && !ParseUnsigned(rest, 255, n))
        return BadValue(error, key, value, "number 0 to 255");
      u.suffixLetter = c == '-' ? 0 : static_cast<uint8_t>(c - 'A' + 1);
      u.suffixNumber = rest.empty() ? 0 : static_cast<uint8_t>(n);
    } else if (key == "product") {
      return u16(u.productWord);
    } else if (key == "software") {
      if (!ParseVersion(value, u.softwareVersion, u.softwareRelease)) {
        return BadValue(error, key, value, "like 6.10r57");
      }
    } else if (key == "build") {
      if (!ParseSigned(value, -128, 127, sn)) return BadValue(error, key, value, "-128 to 127");
      u.buildIncrement = static_cast<int8_t>(sn);
    } else if (key == "serial") {
      if (!ParseSigned(value, INT32_MIN, INT32_MAX, sn))
        return BadValue(error, key, value, "a 32-bit number");
      u.serialNumber = static_cast<int32_t>(sn);
    } else if (key == "modbus") {
      return u8(u.modbusAddress);
    } else if (key == "address") {
      addressGiven_.insert(index);
      return u8(u.unitAddress);
    } else if (key == "flags") {
      return u8(u.unitFlags);
    } else if (key == "built") {
      if (!ParseBuildTime(value, u.buildTime))
        return BadValue(error, key, value, "like 2026-01-15 12:30:00");
    } else if (key == "info") {
      if (value.size() > 255)
        return BadValue(error, key, value.substr(0, 20) + "...", "at most 255 characters");
      u.informationText = value;
    } else if (key == "debug-logs") {
      std::istringstream in(value);
      std::string word;
      u.debugLogFiles.clear();
      while (in >> word) {
        if (!ParseUnsigned(word, 0xFFFF, n))
          return BadValue(error, key, word, "file numbers 0 to 0xFFFF");
        if (u.debugLogFiles.size() >= kMaxDebugLogs) return Fail(error, "more than 255 debug logs");
        u.debugLogFiles.push_back(static_cast<uint16_t>(n));
      }
    } else if (key == "boot-loader") {
      if (!ParseBootLoader(value, u.bootLoaderVersion, u.bootLoaderRelease)) {
        return BadValue(error, key, value, "like 4r18");
      }
    } else if (key == "boot-flags") {
      return u8(u.bootFlags);
    } else if (key == "boot-info") {
      return u8(u.bootInfoByte);
    } else if (key == "buffer-size") {
      return u16(u.bufferSize);
    } else if (key == "programmer-buffer-size") {
      return u16(u.programmerBufferSize);
    } else if (key == "programmer-version") {
      // "3.0": major and minor as GetProgrammerVersion answers them.
      const size_t dot = value.find('.');
      uint64_t major = 0;
      uint64_t minor = 0;
      if (dot == std::string::npos || !ParseUnsigned(value.substr(0, dot), 255, major) ||
          !ParseUnsigned(value.substr(dot + 1), 255, minor)) {
        return BadValue(error, key, value, "major.minor, like 3.0");
      }
      u.programmerVersionMajor = static_cast<uint8_t>(major);
      u.programmerVersionMinor = static_cast<uint8_t>(minor);
    } else if (key == "request-us") {
      if (!ParseUnsigned(value, 1000000, n)) return BadValue(error, key, value, "0 to 1000000 us");
      u.timing.requestUs = static_cast<uint32_t>(n);
    } else if (key == "program-page-us") {
      if (!ParseUnsigned(value, 1000000, n)) return BadValue(error, key, value, "0 to 1000000 us");
      u.timing.programPageUs = static_cast<uint32_t>(n);
    } else if (key == "erase-sector-ms") {
      if (!ParseUnsigned(value, 10000, n)) return BadValue(error, key, value, "0 to 10000 ms");
      u.timing.eraseSectorMs = static_cast<uint32_t>(n);
    } else if (key == "flash" || key == "backup" || key == "file-bin") {
      PreloadStep step;
      std::string why;
      if (!ParsePreload(key, value, step, why)) return Fail(error, why);
      su.preload.emplace_back(line_, std::move(step));
    } else if (key == "mcu") {
      mcuGiven_.insert(index);
      for (const auto& m : kMcuNames) {
        if (Lower(value) == Lower(m.name)) {
          u.mcuType = m.code;
          return true;
        }
      }
      if (!ParseUnsigned(value, 15, n))
        return BadValue(error, key, value, "an MCU name or 0 to 15");
      u.mcuType = static_cast<uint8_t>(n);
    } else if (key == "baud") {
      if (!ParseSpeed(value, u.applicationBaud))
        return BadValue(error, key, value, "300 to 4000000");
    } else if (key == "parity") {
      const std::string v = Lower(value);
      if (v == "none")
        u.applicationEvenParity = false;
      else if (v == "even")
        u.applicationEvenParity = true;
      else
        return BadValue(error, key, value, "none or even");
    } else if (key == "vcom") {
      if (!ParseYesNo(value, u.vcom)) return BadValue(error, key, value, "yes or no");
    } else if (key == "cts") {
      const std::string v = Lower(value);
      if (v == "low") {
        u.cts = CtsBehaviour::kLow;
      } else if (v == "high") {
        u.cts = CtsBehaviour::kHigh;
      } else if (ParseUnsigned(v, 600000, n)) {
        u.cts = CtsBehaviour::kAfterDelay;
        u.ctsDelayMs = static_cast<uint32_t>(n);
      } else {
        return BadValue(error, key, value, "low, high or a delay in ms");
      }
    } else if (key == "restart-ms") {
      return ms(u.restartMs);
    } else if (key == "not-ready-ms") {
      return ms(u.notReadyMs);
    } else if (key == "checksum") {
      if (!ParseUnsigned(value, 0xFFFFFFFF, n))
        return BadValue(error, key, value, "a 32-bit number");
      u.softwareChecksum = static_cast<uint32_t>(n);
    } else if (key == "crc") {
      return u16(u.softwareCrc);
    } else if (key == "jig") {
      if (!ParseYesNo(value, u.isJig)) return BadValue(error, key, value, "yes or no");
    } else if (key == "jig-port") {
      return u8(u.jigPortNumber);
    } else if (key == "proxy-baud") {
      if (!ParseSpeed(value, u.proxyBaud)) return BadValue(error, key, value, "300 to 4000000");
    } else if (key == "flash-failure") {
      return u8(u.hardwareFailure);
    } else if (key == "late-windowed") {
      if (!ParseYesNo(value, u.windowedRepliesLate))
        return BadValue(error, key, value, "yes or no");
    } else if (key == "file") {
      // "DRIVE FILE text": a file in one of the unit's drives.
      std::istringstream in(value);
      std::string drive;
      std::string file;
      in >> drive >> file;
      uint64_t d = 0;
      uint64_t f = 0;
      if (!ParseUnsigned(drive, 255, d) || !ParseUnsigned(file, 0xFFFF, f)) {
        return BadValue(error, key, value, "drive, file number, then the text");
      }
      std::string text;
      std::getline(in, text);
      text = Trim(text);
      // "\n" in the text stands for a line break.
      std::string data;
      for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
          data += "\r\n";
          ++i;
        } else {
          data += text[i];
        }
      }
      if (!u.files.HasDrive(static_cast<uint8_t>(d))) u.files.AddDrive(static_cast<uint8_t>(d));
      if (!u.files.Put(static_cast<uint8_t>(d), static_cast<uint16_t>(f),
                       std::vector<uint8_t>(data.begin(), data.end()))) {
        return Fail(error, "file could not be stored");
      }
    } else {
      return Fail(error, "unknown key '" + key + "'");
    }
    return true;
  }

  Scenario& s_;
  int line_ = 0;
  Section section_ = Section::kNone;
  std::set<std::string> names_;
  std::set<size_t> addressGiven_;
  std::set<size_t> mcuGiven_;
};

}  // namespace

uint8_t McuTypeOfCard(uint16_t card, uint16_t circuit) {
  switch (card) {
    case 611:
    case 620:
      return 2;
    case 647:
      return circuit <= 4 ? 3 : circuit >= 6 ? 7 : 0;
    case 648:
      return circuit <= 5 ? 5 : 4;
    case 649:
      return 5;
    case 652:
      return 7;
    case 653:
    case 659:
      return 6;
    default:
      return 0;
  }
}

bool ParseScenario(const std::string& text, Scenario& scenario, std::string& error,
                   const std::string& baseDir) {
  scenario = Scenario();
  scenario.baseDir = baseDir;
  if (text.size() > kMaxScenarioBytes) {
    error = "scenario larger than 4 MiB";
    return false;
  }
  if (text.find('\0') != std::string::npos) {
    error = "scenario contains a NUL byte (not a text file?)";
    return false;
  }
  Parser parser(scenario);
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    if (!parser.Line(++number, line, error)) return false;
  }
  return parser.Finish(error);
}

bool LoadScenario(const std::string& path, Scenario& scenario, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot open";
    return false;
  }
  std::string text;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxScenarioBytes) {
      error = path + ": scenario larger than 4 MiB";
      return false;
    }
  }
  const size_t slash = path.find_last_of("/\\");
  const std::string baseDir =
      slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  if (!ParseScenario(text, scenario, error, baseDir)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

void BuildNetwork(const Scenario& scenario, SimNetwork& network) {
  for (const auto& su : scenario.units) network.AddUnit(su.unit, su.place);
  for (const auto& f : scenario.faults) network.faults().Add(f);
  network.SetLineModel(scenario.lineModel);
  network.SetProcessingMs(scenario.processingMs);
}

}  // namespace kel::sim
