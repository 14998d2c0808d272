#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "unit/unit_info.h"

namespace kel {

/// An image the selection stores in a unit record: a programmer, boot-loader
/// or software `RecordImage` embedded in the program (or, for a programmer,
/// produced by the boot tool). The record only refers to it.
struct ImageRef {
  const char* name = "";
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
  /// Software only: the checksum (CRC-32) and CRC (CRC-16) that a unit
  /// reports when it runs exactly this software.
  uint32_t checksum = 0;
  uint16_t crc = 0;
};

/// A flash programmer of the catalogue. `unitType` 0 matches any unit type.
struct ProgrammerEntry {
  int8_t mcuType;
  uint8_t unitType;
  int8_t bootLoaderVersion;
  bool large;           ///< accepts write requests longer than 128 bytes
  const char* image;    ///< embedded file name
  const char* message;  ///< the selection line, without its line end
};

/// The language strings programmer of an H8S2145 transmitter.
struct StringsProgrammerEntry {
  int8_t bootLoaderVersion;
  const char* image;
  const char* message;
};

/// A boot-loader image with the MCU's flash write unit. `unitType` 0
/// matches any unit type.
struct BootLoaderEntry {
  int8_t mcuType;
  uint8_t unitType;
  uint16_t flashBlockSize;
  const char* image;
};

/// An application software image with the check values of that software.
struct SoftwareEntry {
  uint8_t unitType;
  int8_t mcuType;
  const char* image;
  uint32_t checksum;
  uint16_t crc;
};

/// The whole tables, in catalogue order.
std::span<const ProgrammerEntry> ProgrammerTable();
std::span<const StringsProgrammerEntry> StringsProgrammerTable();
std::span<const BootLoaderEntry> BootLoaderTable();
std::span<const SoftwareEntry> SoftwareTable();

/// The programmer for these unit properties, or null. H8S2145 entries exist
/// only in the normal size.
const ProgrammerEntry* FindProgrammer(int8_t mcuType, uint8_t unitType, int8_t bootLoaderVersion,
                                      bool large);
/// The strings programmer for an H8S2145 boot-loader version, or null.
const StringsProgrammerEntry* FindStringsProgrammer(int8_t bootLoaderVersion);
/// The boot-loader image of an MCU type and unit type, or null.
const BootLoaderEntry* FindBootLoader(int8_t mcuType, uint8_t unitType);
/// The software of a unit type and MCU type, or null.
const SoftwareEntry* FindSoftware(uint8_t unitType, int8_t mcuType);

/// The catalogue image called `name` (a name from the tables above), with
/// its embedded bytes and, for software, its check values. The returned
/// object lives as long as the program. Null for a name outside the tables
/// or a file missing from the build.
const ImageRef* CatalogueImage(std::string_view name);

}  // namespace kel
