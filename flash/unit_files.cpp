#include "flash/unit_files.h"

#include <vector>

#include "images/embedded_blobs.h"
#include "unit/unit_info.h"

namespace kel {
namespace {

struct Row {
  uint16_t fileNumber;
  const char* name;
};

// The seven language files every set carries, under the same numbers.
#define KEL_LANGUAGE_ROWS(set)                                                                    \
  {                                                                                               \
    {0x1E0, "lang_" set "_01e0"}, {0x1E1, "lang_" set "_01e1"}, {0x1E2, "lang_" set "_01e2"},     \
        {0x1E3, "lang_" set "_01e3"}, {0x1E5, "lang_" set "_01e5"}, {0x1E6, "lang_" set "_01e6"}, \
        {0x1EA, "lang_" set "_01ea"},                                                             \
  }

constexpr Row kLanguageKt3[] = KEL_LANGUAGE_ROWS("kt3");
constexpr Row kLanguageKt5[] = KEL_LANGUAGE_ROWS("kt5");
constexpr Row kLanguageKd3Lpc2478[] = KEL_LANGUAGE_ROWS("kd3_lpc2478");
constexpr Row kLanguageKd3[] = KEL_LANGUAGE_ROWS("kd3");
constexpr Row kLanguageKd4[] = KEL_LANGUAGE_ROWS("kd4");
#undef KEL_LANGUAGE_ROWS

constexpr Row kImageKd3[] = {{0x100, "image_kd3_0100"}};
constexpr Row kImageKd4[] = {{0x100, "image_kd4_0100"}};

constexpr Row kFontsKd3[] = {
    {0x1C0, "font_kd3_01c0"}, {0x1C1, "font_kd3_01c1"}, {0x1C2, "font_kd3_01c2"},
    {0x1C3, "font_kd3_01c3"}, {0x1C4, "font_kd3_01c4"}, {0x1C5, "font_kd3_01c5"},
    {0x1C6, "font_kd3_01c6"}, {0x1C7, "font_kd3_01c7"}, {0x1C8, "font_kd3_01c8"},
    {0x1C9, "font_kd3_01c9"}, {0x1CA, "font_kd3_01ca"}, {0x1CB, "font_kd3_01cb"},
    {0x1CC, "font_kd3_01cc"}, {0x1CD, "font_kd3_01cd"}, {0x1CE, "font_kd3_01ce"},
    {0x1CF, "font_kd3_01cf"},
};
constexpr Row kFontsKd4[] = {
    {0x1C0, "font_kd4_01c0"}, {0x1C1, "font_kd4_01c1"}, {0x1C2, "font_kd4_01c2"},
    {0x1C3, "font_kd4_01c3"}, {0x1C4, "font_kd4_01c4"}, {0x1C5, "font_kd4_01c5"},
    {0x1C6, "font_kd4_01c6"}, {0x1C7, "font_kd4_01c7"}, {0x1C8, "font_kd4_01c8"},
    {0x1C9, "font_kd4_01c9"}, {0x1CA, "font_kd4_01ca"}, {0x1CB, "font_kd4_01cb"},
    {0x1CC, "font_kd4_01cc"}, {0x1CD, "font_kd4_01cd"}, {0x1CE, "font_kd4_01ce"},
    {0x1CF, "font_kd4_01cf"}, {0x1D0, "font_kd4_01d0"},
};

// EtherNet/IP, PROFINET, PROFIBUS and CANopen descriptions, shared by both
// displays.
constexpr Row kFieldbus[] = {
    {0x1B0, "fieldbus_01b0"},
    {0x1B1, "fieldbus_01b1"},
    {0x1B2, "fieldbus_01b2"},
    {0x1B3, "fieldbus_01b3"},
};

// The tables resolved to their embedded bytes once. Each vector is filled
// when the catalogue is built and never resized, so spans into them stay
// valid for the whole run.
struct Resolved {
  std::vector<UnitFile> languageKt3, languageKt5, languageKd3Lpc2478, languageKd3, languageKd4;
  std::vector<UnitFile> imageKd3, imageKd4, fontsKd3, fontsKd4, fieldbus;
};

std::vector<UnitFile> Resolve(std::span<const Row> rows) {
  std::vector<UnitFile> files;
  files.reserve(rows.size());
  for (const Row& row : rows) {
    UnitFile file{row.name, kUnitFileDrive, row.fileNumber, nullptr, 0};
    if (const EmbeddedBlob* blob = FindEmbeddedBlob(row.name)) {
      file.data = blob->data();
      file.size = static_cast<uint32_t>(blob->size());
    }
    files.push_back(file);
  }
  return files;
}

const Resolved& Files() {
  static const Resolved resolved{
      Resolve(kLanguageKt3), Resolve(kLanguageKt5), Resolve(kLanguageKd3Lpc2478),
      Resolve(kLanguageKd3), Resolve(kLanguageKd4), Resolve(kImageKd3),
      Resolve(kImageKd4),    Resolve(kFontsKd3),    Resolve(kFontsKd4),
      Resolve(kFieldbus),
  };
  return resolved;
}

constexpr uint16_t kCardKt3 = 648;
constexpr uint16_t kCardKt5 = 659;
constexpr uint16_t kCardKd3 = 647;
constexpr uint16_t kCardKd4 = 653;

}  // namespace

UnitFileSet UnitFilesForCard(uint16_t cardNumber, int8_t mcuType) {
  const Resolved& f = Files();
  UnitFileSet set;
  switch (cardNumber) {
    case kCardKt3:
      set.languageFiles = f.languageKt3;
      break;
    case kCardKt5:
      set.languageFiles = f.languageKt5;
      break;
    case kCardKd3:
      set.languageFiles = mcuType == mcuLPC2478 ? f.languageKd3Lpc2478 : f.languageKd3;
      set.imageFiles = f.imageKd3;
      set.fontFiles = f.fontsKd3;
      set.fieldbusFiles = f.fieldbus;
      break;
    case kCardKd4:
      set.languageFiles = f.languageKd4;
      set.imageFiles = f.imageKd4;
      set.fontFiles = f.fontsKd4;
      set.fieldbusFiles = f.fieldbus;
      set.resourceFile = true;
      break;
    default:
      break;
  }
  return set;
}

}  // namespace kel
