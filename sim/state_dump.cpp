#include "sim/state_dump.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "sim/boot_region.h"
#include "sim/sim_network.h"

namespace kel::sim {

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kBankSize = 0x80000;     // 512 KiB, every LPC flash bank
constexpr uint32_t kH8FlashSize = 0x20000;  // 128 KiB
constexpr uint32_t kSecondBank = 0x1B000000;

// The flash banks of an MCU type; none for an unknown type.
std::vector<FlashRange> Banks(uint8_t mcuType) {
  switch (mcuType) {
    case 1:
    case 2:
      return {{0, kH8FlashSize - 1}};
    case 3:
    case 4:
    case 5:
      return {{0, kBankSize - 1}};
    case 6:
    case 7: {
      const uint32_t base = FlashMemory::FlashBase(mcuType);
      return {{base, base + kBankSize - 1}, {kSecondBank, kSecondBank + kBankSize - 1}};
    }
    default:
      return {};
  }
}

const char* DumpRoleName(SimRole role) {
  switch (role) {
    case SimRole::kApplication:
      return "application";
    case SimRole::kBootLoader:
      return "boot-loader";
    case SimRole::kProgrammer:
      return "programmer";
    case SimRole::kBlankChip:
      return "blank-chip";
  }
  return "?";
}

bool WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes, std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    error = "cannot write " + path.string();
    return false;
  }
  return true;
}

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

const char* BootRegionName(BootRegionState state) {
  switch (state) {
    case BootRegionState::kScenario:
      return "scenario";
    case BootRegionState::kWhole:
      return "whole";
    case BootRegionState::kBroken:
      return "broken";
  }
  return "?";
}

std::string Summary(const SimUnit& u) {
  char text[512];
  std::snprintf(
      text, sizeof text,
      "name = %s\nrole = %s\ncard = %u\ncircuit = %u\nmcu = %u\nsoftware = %d.%02dr%02u\n"
      "build = %d\nboot-loader = %ur%u\nboot-region = %s\nboot-flags = 0x%02X\n"
      "checksum = 0x%08X\ncrc = 0x%04X\nbaud = %d\nparity = %s\n",
      u.name.c_str(), DumpRoleName(u.role), u.cardNumber, u.circuitCode, u.mcuType,
      u.softwareVersion / 100, u.softwareVersion % 100, u.softwareRelease, u.buildIncrement,
      u.bootLoaderVersion, u.bootLoaderRelease, BootRegionName(ReadBootRegion(u).state),
      u.bootFlags, u.reportedChecksum, u.reportedCrc, u.baudRate, u.evenParity ? "even" : "none");
  return text;
}

bool DumpUnit(const SimUnit& unit, const fs::path& folder, std::string& error) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    error = "cannot make " + folder.string() + ": " + ec.message();
    return false;
  }
  for (const FlashRange& bank : Banks(unit.mcuType)) {
    const std::vector<uint8_t> bytes = unit.flash.Read(bank.first, bank.last - bank.first + 1);
    if (!WriteBytes(folder / ("flash-" + Hex(bank.first, 8) + ".bin"), bytes, error)) return false;
  }
  FlashRange backup;
  if (FlashMemory::BackupRegion(unit.mcuType, backup) &&
      !WriteBytes(folder / "backup.bin",
                  unit.flash.Read(backup.first, backup.last - backup.first + 1), error)) {
    return false;
  }
  for (int drive = 0; drive < 256; ++drive) {
    const auto& files = unit.files.Files(static_cast<uint8_t>(drive));
    if (files.empty()) continue;
    char name[16];
    std::snprintf(name, sizeof name, "drive-%03d", drive);
    const fs::path driveFolder = folder / name;
    fs::create_directories(driveFolder, ec);
    for (const auto& [number, file] : files) {
      const std::string stem = "file-" + Hex(number, 4);
      if (!WriteBytes(driveFolder / (stem + ".bin"), file.data, error)) return false;
      if (!file.properties.empty() &&
          !WriteBytes(driveFolder / (stem + ".properties"), file.properties, error)) {
        return false;
      }
    }
  }
  const std::string summary = Summary(unit);
  return WriteBytes(folder / "unit.txt", std::vector<uint8_t>(summary.begin(), summary.end()),
                    error);
}

}  // namespace

std::string SafeFolderName(const std::string& name) {
  std::string out;
  for (char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_';
    out += plain ? c : '_';
  }
  // Never "", "." or "..": a name that starts with a dot gets a prefix.
  if (out.empty() || out[0] == '.') out = "unit" + out;
  return out;
}

bool DumpNetwork(SimNetwork& network, const std::string& dir, std::string& error) {
  for (const SimUnit* unit : network.AllUnits()) {
    if (!DumpUnit(*unit, fs::path(dir) / SafeFolderName(unit->name), error)) return false;
  }
  return true;
}

bool DumpNetworkAt(SimNetwork& network, uint32_t now, const std::string& dir, std::string& error) {
  network.Advance(now);
  return DumpNetwork(network, dir, error);
}

}  // namespace kel::sim
