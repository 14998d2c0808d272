#include "sim/control_channel.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/scenario_values.h"
#include "sim/sim_network.h"
#include "sim/role_reply.h"

namespace kel::sim {

namespace {

constexpr size_t kMaxText = 64 * 1024;
constexpr size_t kMaxCommands = 100;
constexpr size_t kMaxImageBytes = 1024 * 1024;

bool ReadImage(const std::string& path, std::vector<ImageRecord>& records, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::vector<uint8_t> bytes;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes.insert(bytes.end(), buffer, buffer + in.gcount());
    if (bytes.size() > kMaxImageBytes) {
      error = path + " is larger than 1 MiB";
      return false;
    }
  }
  if (!ParseRecordImage(bytes.data(), bytes.size(), records)) {
    error = path + " is not an image container";
    return false;
  }
  return true;
}

// "COM3" (any case) into 3.
bool ParsePort(const std::string& text, int& port) {
  uint64_t n = 0;
  if (text.size() < 4 || Lower(text.substr(0, 3)) != "com" ||
      !ParseUnsigned(text.substr(3), 255, n) || n == 0) {
    return false;
  }
  port = static_cast<int>(n);
  return true;
}

std::string RunOne(const std::string& line, const std::map<int, SimNetwork*>& ports,
                   const std::string& baseDir, uint32_t now) {
  std::istringstream in(line);
  std::string command, portText, versionText, option;
  in >> command >> portText >> versionText;
  if (command != "boot-loader" && command != "power-cycle" && command != "plug")
    return "unknown command '" + command + "'";
  int port = 0;
  if (!ParsePort(portText, port)) return "expected a port like COM3, not '" + portText + "'";
  if (command == "power-cycle" || command == "plug") {
    const auto at = ports.find(port);
    if (at == ports.end() || !at->second) return "COM" + std::to_string(port) + " is not served";
    if (!versionText.empty()) return "unknown option '" + versionText + "'";
    if (command == "plug") {
      // The cable an unplug fault pulled is back; the units kept running.
      at->second->SetUnplugged(false);
    } else {
      at->second->PowerCycle(now);
    }
    return "";
  }
  uint8_t version = 0, release = 0;
  if (!ParseBootLoader(versionText, version, release))
    return "expected a boot loader like 4r18, not '" + versionText + "'";
  std::vector<ImageRecord> image;
  while (in >> option) {
    if (option.rfind("image=", 0) != 0) return "unknown option '" + option + "'";
    std::filesystem::path path(option.substr(6));
    if (!baseDir.empty() && path.is_relative()) path = std::filesystem::path(baseDir) / path;
    std::string error;
    if (!ReadImage(path.string(), image, error)) return error;
  }
  const auto at = ports.find(port);
  SimUnit* unit = at != ports.end() && at->second ? at->second->connected() : nullptr;
  if (!unit) return "COM" + std::to_string(port) + " is not served";
  std::string error;
  if (!InstallBootLoader(*unit, version, release, image, error))
    return "COM" + std::to_string(port) + ": " + error;
  return "";
}

}  // namespace

bool InstallBootLoader(SimUnit& unit, uint8_t version, uint8_t release,
                       const std::vector<ImageRecord>& image, std::string& error) {
  if (unit.role != SimRole::kBlankChip || unit.restarting) {
    error = "holds no blank chip";
    return false;
  }
  const uint64_t bootEnd = uint64_t{FlashMemory::FlashBase(unit.mcuType)} + kBootAreaSize;
  for (const ImageRecord& r : image) {
    const uint64_t last = uint64_t{r.address} + r.data.size();
    if (r.data.empty()) continue;
    if (last > bootEnd || !FlashMemory::InFlash(unit.mcuType, r.address)) {
      error = "the image has records outside the boot-loader area";
      return false;
    }
  }
  // The ROM's programming erases the boot region's sectors first, so
  // nothing of a boot loader that was there (whole or not) is left.
  const uint32_t base = FlashMemory::FlashBase(unit.mcuType);
  for (uint64_t at = base; at < bootEnd;) {
    const FlashRange sector = FlashMemory::SectorOf(unit.mcuType, static_cast<uint32_t>(at));
    unit.flash.Erase(sector.first, std::min<uint32_t>(sector.last, static_cast<uint32_t>(bootEnd - 1)));
    at = uint64_t{sector.last} + 1;
  }
  for (const ImageRecord& r : image) unit.flash.Write(r.address, r.data);
  // The boot loader the tool names is the one the unit has now.
  unit.bootRegionTouched = false;
  unit.bootLoaderLost = false;
  unit.bootLoaderVersion = version;
  unit.bootLoaderRelease = release;
  unit.bootFlags = kNoSoftwareFlag;
  unit.softwarePresent = false;
  unit.startRole = SimRole::kBootLoader;
  unit.role = SimRole::kBootLoader;
  unit.autoBaud = true;
  unit.baudRate = 9600;
  unit.evenParity = false;
  unit.ispSynchronized = unit.ispAutobaudSeen = unit.ispFrequencySet = false;
  unit.ispInput.clear();
  unit.ram.clear();
  unit.inbox.Clear();
  return true;
}

std::string RunControlCommands(const std::string& text, const std::map<int, SimNetwork*>& ports,
                               const std::string& baseDir, uint32_t now) {
  if (text.size() > kMaxText) return "error: commands longer than 64 KiB\n";
  std::istringstream in(text);
  std::string line;
  std::string replies;
  size_t commands = 0;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    if (++commands > kMaxCommands) {
      replies += "error: line " + std::to_string(number) + ": more than 100 commands\n";
      break;
    }
    const std::string why = RunOne(t, ports, baseDir, now);
    replies += why.empty() ? "ok " + t + "\n"
                           : "error: line " + std::to_string(number) + ": " + why + "\n";
  }
  return replies;
}

}  // namespace kel::sim
