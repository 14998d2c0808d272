#include "sim/unit_preload.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/crc16.h"
#include "sim/file_services.h"
#include "sim/scenario_values.h"
#include "sim/sim_unit.h"
#include "sim/update_files.h"

namespace kel::sim {

namespace {

// Nothing a unit holds is larger: its flash, or the largest file a drive takes.
constexpr size_t kMaxInputBytes = 4u * 1024u * 1024u;

bool ReadBinary(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  out.clear();
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    out.insert(out.end(), buffer, buffer + in.gcount());
    if (out.size() > kMaxInputBytes) {
      error = path + " is larger than 4 MiB";
      return false;
    }
  }
  return true;
}

std::string Resolve(const std::string& baseDir, const std::string& path) {
  const std::filesystem::path p(path);
  if (baseDir.empty() || p.is_absolute()) return path;
  return (std::filesystem::path(baseDir) / p).string();
}

bool ParseHex(const std::string& text, std::vector<uint8_t>& out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    uint64_t byte = 0;
    if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
        !ParseUnsigned("0x" + text.substr(i, 2), 0xFF, byte)) {
      return false;
    }
    out.push_back(static_cast<uint8_t>(byte));
  }
  return true;
}

bool Number(const std::string& text, uint64_t max, uint64_t& out, const char* what,
            std::string& error) {
  if (ParseUnsigned(text, max, out)) return true;
  error = std::string("bad ") + what + " '" + text + "'";
  return false;
}

// True when every byte of first..last lies in the unit's flash.
bool InFlash(const SimUnit& unit, uint32_t first, uint64_t last) {
  if (last > 0xFFFFFFFFull || last < first) return false;
  for (uint64_t at = first; at <= last; at += 0x1000) {
    if (!FlashMemory::InFlash(unit.mcuType, static_cast<uint32_t>(at))) return false;
  }
  return FlashMemory::InFlash(unit.mcuType, static_cast<uint32_t>(last));
}

bool WriteFlash(SimUnit& unit, uint32_t address, const std::vector<uint8_t>& data,
                std::string& error) {
  if (data.empty()) return true;
  if (!InFlash(unit, address, uint64_t{address} + data.size() - 1)) {
    error = "bytes outside the MCU's flash";
    return false;
  }
  unit.flash.Write(address, data);
  return true;
}

bool ParseFile(std::istringstream& in, PreloadStep& step, std::string& error) {
  std::string drive, file;
  uint64_t d = 0, f = 0;
  if (!(in >> drive >> file >> step.path)) {
    error = "file-bin needs a drive, a file number and a path";
    return false;
  }
  if (!Number(drive, 0xFF, d, "drive", error) || !Number(file, 0xFFFF, f, "file number", error))
    return false;
  step.drive = static_cast<uint8_t>(d);
  step.file = static_cast<uint16_t>(f);
  std::string option;
  while (in >> option) {
    uint64_t n = 0;
    if (option == "crc") {
      step.storeCrc = true;
    } else if (option.rfind("crc=", 0) == 0) {
      if (!Number(option.substr(4), 0xFFFF, n, "CRC number", error)) return false;
      step.storeCrc = step.crcGiven = true;
      step.crcNumber = static_cast<uint16_t>(n);
    } else if (option.rfind("properties=", 0) == 0) {
      if (!ParseHex(option.substr(11), step.properties) ||
          step.properties.size() > kMaxPropertiesSize) {
        error = "properties= needs up to 239 bytes in hexadecimal";
        return false;
      }
    } else {
      error = "unknown file-bin option '" + option + "'";
      return false;
    }
  }
  if (step.storeCrc && !step.properties.empty()) {
    error = "give either crc or properties=, not both";
    return false;
  }
  step.kind = PreloadStep::Kind::kFile;
  return true;
}

}  // namespace

std::vector<uint8_t> CrcProperties(uint16_t number) {
  if (number == 0) return {};
  if (number < 256) return {0x01, 0x31, static_cast<uint8_t>(number)};
  return {0x01, 0x42, static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number)};
}

uint16_t FileCrcNumber(const std::vector<uint8_t>& data) {
  const uint16_t crc = ModbusCrc16(data);
  return static_cast<uint16_t>((crc << 8) | (crc >> 8));
}

bool ParsePreload(const std::string& key, const std::string& value, PreloadStep& step,
                  std::string& error) {
  step = PreloadStep();
  std::istringstream in(value);
  if (key == "file-bin") return ParseFile(in, step, error);
  std::string kind;
  in >> kind;
  uint64_t a = 0, b = 0, c = 0;
  std::string x, y, z, extra;
  if (key == "flash" && kind == "records") {
    step.kind = PreloadStep::Kind::kFlashRecords;
    in >> step.path;
  } else if (key == "flash" && kind == "raw") {
    step.kind = PreloadStep::Kind::kFlashRaw;
    if (!(in >> x >> step.path) || !Number(x, 0xFFFFFFFF, a, "address", error)) {
      if (error.empty()) error = "flash = raw needs an address and a path";
      return false;
    }
    step.first = static_cast<uint32_t>(a);
  } else if (key == "flash" && kind == "fill") {
    step.kind = PreloadStep::Kind::kFlashFill;
    if (!(in >> x >> y >> z)) {
      error = "flash = fill needs the first and last address and a byte";
      return false;
    }
    if (!Number(x, 0xFFFFFFFF, a, "address", error) ||
        !Number(y, 0xFFFFFFFF, b, "address", error) || !Number(z, 0xFF, c, "byte", error)) {
      return false;
    }
    if (b < a) {
      error = "the last address is below the first";
      return false;
    }
    step.first = static_cast<uint32_t>(a);
    step.last = static_cast<uint32_t>(b);
    step.fill = static_cast<uint8_t>(c);
  } else if (key == "backup" && kind == "raw") {
    step.kind = PreloadStep::Kind::kBackupRaw;
    in >> step.path;
  } else if (key == "backup" && kind == "fill") {
    step.kind = PreloadStep::Kind::kBackupFill;
    if (!(in >> x) || !Number(x, 0xFF, c, "byte", error)) {
      if (error.empty()) error = "backup = fill needs a byte";
      return false;
    }
    step.fill = static_cast<uint8_t>(c);
  } else {
    error = key == "flash" ? "flash = records FILE, raw ADDRESS FILE or fill FIRST LAST BYTE"
                           : "backup = raw FILE or fill BYTE";
    return false;
  }
  const bool needsPath =
      step.kind == PreloadStep::Kind::kFlashRecords || step.kind == PreloadStep::Kind::kBackupRaw;
  if ((needsPath && step.path.empty()) || (in >> extra)) {
    error = needsPath && step.path.empty() ? "a path is missing" : "unexpected '" + extra + "'";
    return false;
  }
  return true;
}

bool ApplyPreload(const PreloadStep& step, const std::string& baseDir, SimUnit& unit,
                  std::string& error) {
  std::vector<uint8_t> data;
  const bool fromFile =
      step.kind != PreloadStep::Kind::kFlashFill && step.kind != PreloadStep::Kind::kBackupFill;
  if (fromFile && !ReadBinary(Resolve(baseDir, step.path), data, error)) return false;
  FlashRange backup;
  switch (step.kind) {
    case PreloadStep::Kind::kFlashRecords: {
      std::vector<ImageRecord> records;
      if (!ParseRecordImage(data.data(), data.size(), records)) {
        error = step.path + " is not an image container";
        return false;
      }
      for (const ImageRecord& r : records) {
        if (!WriteFlash(unit, r.address, r.data, error)) return false;
      }
      return true;
    }
    case PreloadStep::Kind::kFlashRaw:
      return WriteFlash(unit, step.first, data, error);
    case PreloadStep::Kind::kFlashFill:
      if (step.last - step.first >= kMaxInputBytes) {
        error = "a fill larger than 4 MiB";
        return false;
      }
      return WriteFlash(unit, step.first,
                        std::vector<uint8_t>(step.last - step.first + 1, step.fill), error);
    case PreloadStep::Kind::kBackupRaw:
    case PreloadStep::Kind::kBackupFill: {
      if (!FlashMemory::BackupRegion(unit.mcuType, backup)) {
        error = "the unit's MCU has no backup region";
        return false;
      }
      const size_t size = backup.last - backup.first + 1;
      if (step.kind == PreloadStep::Kind::kBackupFill) data.assign(size, step.fill);
      if (data.size() > size) {
        error =
            step.path + " is larger than the backup region (" + std::to_string(size) + " bytes)";
        return false;
      }
      return WriteFlash(unit, backup.first, data, error);
    }
    case PreloadStep::Kind::kFile: {
      if (!unit.files.HasDrive(step.drive)) unit.files.AddDrive(step.drive);
      std::vector<uint8_t> properties = step.properties;
      if (step.storeCrc)
        properties = CrcProperties(step.crcGiven ? step.crcNumber : FileCrcNumber(data));
      if (!unit.files.Put(step.drive, step.file, std::move(data)) ||
          !unit.files.SetProperties(step.drive, step.file, std::move(properties))) {
        error = step.path + " does not fit the drive";
        return false;
      }
      return true;
    }
  }
  return false;
}

}  // namespace kel::sim
