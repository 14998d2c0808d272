#pragma once

#include <cstdint>
#include <span>

namespace kel {

/// One file the program keeps up to date in a unit's flash drive: a
/// language, image, font or fieldbus description file, embedded as opaque
/// data.
struct UnitFile {
  const char* name;  ///< embedded file name
  uint8_t drive;
  uint16_t fileNumber;
  const uint8_t* data;
  uint32_t size;
};

/// Drive of the language, image, font and fieldbus files.
constexpr uint8_t kUnitFileDrive = 1;
/// Where the resource file (image and fonts of a KD4 display) lives.
constexpr uint8_t kResourceFileDrive = 177;
constexpr uint16_t kResourceFileNumber = 0;

/// The files of one card, in the order they are compared and written.
/// When `resourceFile` is set, the image and font files are not sent one by
/// one but packed into the resource file.
struct UnitFileSet {
  std::span<const UnitFile> languageFiles;
  std::span<const UnitFile> imageFiles;  ///< none or one
  std::span<const UnitFile> fontFiles;
  std::span<const UnitFile> fieldbusFiles;
  bool resourceFile = false;

  bool empty() const {
    return languageFiles.empty() && imageFiles.empty() && fontFiles.empty() &&
           fieldbusFiles.empty();
  }
};

/// The file set of a card: 648 KT3 and 659 KT5 transmitters (language
/// files), 647 KD3/KP3 displays (language files of their own for LPC2478
/// units, image, 16 fonts, fieldbus files), 653 KD4/KP4 displays (language
/// files, image and 17 fonts for the resource file, fieldbus files). Any
/// other card has no files.
UnitFileSet UnitFilesForCard(uint16_t cardNumber, int8_t mcuType);

}  // namespace kel
