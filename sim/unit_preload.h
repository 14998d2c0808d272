#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kel::sim {

struct SimUnit;

/// State a scenario puts into a unit before it powers on, from the keys
///   flash = records FILE              (an image container: its records)
///   flash = raw ADDRESS FILE          (the file's bytes from ADDRESS on)
///   flash = fill FIRST LAST BYTE      (FIRST..LAST inclusive set to BYTE)
///   backup = raw FILE | fill BYTE     (the MCU's backup region)
///   file-bin = DRIVE FILE PATH [crc | crc=N] [properties=HEX]
/// A file gets PATH's bytes; `crc` stores its CRC in the properties as the
/// update tool does (`crc=N` stores the number N instead, say a stale one),
/// and `properties=` gives the properties block in hexadecimal.
struct PreloadStep {
  enum class Kind : uint8_t {
    kFlashRecords,
    kFlashRaw,
    kFlashFill,
    kBackupRaw,
    kBackupFill,
    kFile
  };
  Kind kind = Kind::kFlashRaw;
  uint32_t first = 0;
  uint32_t last = 0;
  uint8_t fill = 0xFF;
  std::string path;
  uint8_t drive = 0;
  uint16_t file = 0;
  bool storeCrc = false;
  bool crcGiven = false;
  uint16_t crcNumber = 0;
  std::vector<uint8_t> properties;
};

/// Reads the value of a `flash`, `backup` or `file-bin` key; false with the
/// reason in `error`.
bool ParsePreload(const std::string& key, const std::string& value, PreloadStep& step,
                  std::string& error);

/// Loads the step into `unit`, whose MCU type is known by now; relative
/// paths are taken from `baseDir`. Everything must lie in the MCU's flash
/// (or backup region) and files within the drive's size limit.
bool ApplyPreload(const PreloadStep& step, const std::string& baseDir, SimUnit& unit,
                  std::string& error);

/// The properties block the update tool stores a file's CRC number in: the
/// number as item 1, in one byte up to 255 and two above; none for 0.
std::vector<uint8_t> CrcProperties(uint16_t number);

/// The CRC number of a file's bytes as the unit keeps it: the frame check
/// register with its two bytes swapped.
uint16_t FileCrcNumber(const std::vector<uint8_t>& data);

}  // namespace kel::sim
