#pragma once

#include <cstdint>
#include <string>

namespace kel {

struct ImageRef;  // an embedded image chosen for the unit (flash/)

/// How the connected unit answers.
enum ConnectionMode : uint8_t {
  modeUnknown = 0,
  modeApplication = 1,         ///< the unit's application software answers
  modePonderixBootLoader = 2,  ///< the boot loader answers at address 1
  modeFlashProgrammer = 3,     ///< the downloaded RAM flash programmer answers
  modeChipIsp = 4,             ///< a blank LPC chip's ROM loader answers
};

/// MCU type codes (high four bits of the boot-loader version byte).
enum McuType : int8_t {
  mcuUnknown = 0,
  mcuH8S2148 = 1,
  mcuH8S2145 = 2,
  mcuLPC2478 = 3,
  mcuLPC4078 = 4,
  mcuLPC1768 = 5,
  mcuLPC4337 = 6,
  mcuLPC4357 = 7,
};

/// Unit type codes.
enum UnitType : uint8_t {
  unitTypeUnknown = 0,
  unitTypeDisplay = 1,
  unitTypeTransmitter = 2,
  unitTypeIOUnit = 3,
  unitTypeTestJig = 4,
};

/// Everything known about one unit: the connected one (owned by main) or
/// one behind it (a fresh record with connectionMode = modeApplication).
struct UnitInfo {
  uint8_t connectionMode = modeUnknown;
  uint8_t unitAddress = 0;
  uint8_t modbusAddress = 0;  ///< 0 = unknown
  uint16_t cardNumber = 0;
  uint16_t circuitCode = 0;
  uint8_t cardSuffixLetter = 0;  ///< 0 none, 1 "A", 2 "B", ...
  uint8_t cardSuffixNumber = 0;
  uint16_t productWord = 0;
  int16_t softwareVersion = 0;  ///< hundredths: 610 = 6.10
  uint8_t softwareRelease = 0;
  int8_t buildIncrement = 0;
  int32_t serialNumber = 0;
  uint8_t unitFlags = 0;  ///< bit 0 update files, bit 6 JTAG, bit 7 card tester
  uint8_t buildTime[6] = {};  ///< year in century, month, day, hour, minute, second
  std::string informationText;
  uint8_t bootLoaderInfo = 0;
  uint8_t bootLoaderVersionByte = 0;  ///< high nibble MCU type, low nibble version
  int8_t bootLoaderVersion = 0;
  int8_t bootLoaderRelease = 0;
  uint8_t bootFlags = 0;
  uint32_t softwareChecksum = 0;
  uint16_t softwareCrc = 0;
  int8_t mcuType = mcuUnknown;
  uint8_t unitType = unitTypeUnknown;
  uint8_t programmerVersion[2] = {};  ///< major, minor
  uint32_t bufferSize = 128;

  /// Images chosen for this unit by the programmer and image selection.
  const ImageRef* flashProgrammer = nullptr;
  const ImageRef* bootLoaderImage = nullptr;
  const ImageRef* softwareImage = nullptr;
  /// A second programmer named for H8S2145 transmitters (language
  /// strings); nothing downloads it.
  const ImageRef* stringsProgrammer = nullptr;
  /// The MCU's flash write unit in bytes (128, 256 or 512); 0 = not chosen.
  uint16_t flashBlockSize = 0;
  /// Whether the backup fields are read and written back around flash
  /// programming.
  bool backupEnabled = false;
  /// Set when this run wrote the software into the MCU's flash directly:
  /// what the unit reports after its restart is then checked against it.
  bool softwareWritten = false;
  /// The identity (serial number, card suffix, Modbus address, ...) comes
  /// from the note of the run that left the unit running its programmer,
  /// which took it from the unit's software: reports and records show it
  /// as they would the software's own.
  bool identityNoted = false;
};

}  // namespace kel
