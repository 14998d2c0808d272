#include "flash/image_catalogue.h"

#include <vector>

#include "images/embedded_blobs.h"

namespace kel {
namespace {

constexpr uint8_t kAnyUnit = 0;

// Programmers, by MCU, unit type, boot-loader version and size class. The
// large LPC4337 transmitter programmers print the same line as the normal
// ones; that is what the units' service staff know them by.
// clang-format off
constexpr ProgrammerEntry kProgrammers[] = {
    {mcuH8S2145, kAnyUnit, 2, false, "prog_h8s2145_c2", "-- selected flash programmer for H8S2145 C2"},
    {mcuH8S2145, kAnyUnit, 3, false, "prog_h8s2145_c3", "-- selected flash programmer for H8S2145 C3"},

    {mcuLPC1768, unitTypeTransmitter, 3, false, "prog_kt3_lpc1768_c3", "-- selected flash programmer for KT3 LPC1768 C3"},
    {mcuLPC1768, unitTypeTransmitter, 3, true, "prog_kt3_lpc1768_large_c3", "-- selected flash programmer for KT3 LPC1768 LARGE C3"},
    {mcuLPC1768, unitTypeTransmitter, 4, false, "prog_kt3_lpc1768_c4", "-- selected flash programmer for KT3 LPC1768 C4"},
    {mcuLPC1768, unitTypeTransmitter, 4, true, "prog_kt3_lpc1768_large_c4", "-- selected flash programmer for KT3 LPC1768 LARGE C4"},
    {mcuLPC1768, unitTypeIOUnit, 3, false, "prog_kr3_lpc1768_c3", "-- selected flash programmer for KR3 LPC1768 C3"},
    {mcuLPC1768, unitTypeIOUnit, 3, true, "prog_kr3_lpc1768_large_c3", "-- selected flash programmer for KR3 LPC1768 LARGE C3"},
    {mcuLPC1768, unitTypeIOUnit, 4, false, "prog_kr3_lpc1768_c4", "-- selected flash programmer for KR3 LPC1768 C4"},
    {mcuLPC1768, unitTypeIOUnit, 4, true, "prog_kr3_lpc1768_large_c4", "-- selected flash programmer for KR3 LPC1768 LARGE C4"},

    {mcuLPC2478, kAnyUnit, 3, false, "prog_kd3_lpc2478_c3", "-- selected flash programmer for KD3 LPC2478 C3"},
    {mcuLPC2478, kAnyUnit, 3, true, "prog_kd3_lpc2478_large_c3", "-- selected flash programmer for KD3 LPC2478 LARGE C3"},
    {mcuLPC2478, kAnyUnit, 4, false, "prog_kd3_lpc2478_c4", "-- selected flash programmer for KD3 LPC2478 C4"},
    {mcuLPC2478, kAnyUnit, 4, true, "prog_kd3_lpc2478_large_c4", "-- selected flash programmer for KD3 LPC2478 LARGE C4"},

    {mcuLPC4078, kAnyUnit, 3, false, "prog_kt3_lpc4078_c3", "-- selected flash programmer for KT3 LPC4078 C3"},
    {mcuLPC4078, kAnyUnit, 3, true, "prog_kt3_lpc4078_large_c3", "-- selected flash programmer for KT3 LPC4078 LARGE C3"},
    {mcuLPC4078, kAnyUnit, 4, false, "prog_kt3_lpc4078_c4", "-- selected flash programmer for KT3 LPC4078 C4"},
    {mcuLPC4078, kAnyUnit, 4, true, "prog_kt3_lpc4078_large_c4", "-- selected flash programmer for KT3 LPC4078 LARGE C4"},

    {mcuLPC4357, unitTypeDisplay, 3, false, "prog_kd3_lpc4357_c3", "-- selected flash programmer for KD3 LPC4357 C3"},
    {mcuLPC4357, unitTypeDisplay, 3, true, "prog_kd3_lpc4357_large_c3", "-- selected flash programmer for KD3 LPC4357 LARGE C3"},
    {mcuLPC4357, unitTypeDisplay, 4, false, "prog_kd3_lpc4357_c4", "-- selected flash programmer for KD3 LPC4357 C4"},
    {mcuLPC4357, unitTypeDisplay, 4, true, "prog_kd3_lpc4357_large_c4", "-- selected flash programmer for KD3 LPC4357 LARGE C4"},

    {mcuLPC4337, unitTypeDisplay, 3, false, "prog_kd4_lpc4337_c3", "-- selected flash programmer for KD4 LPC4337 C3"},
    {mcuLPC4337, unitTypeDisplay, 3, true, "prog_kd4_lpc4337_large_c3", "-- selected flash programmer for KD4 LPC4337 LARGE C3"},
    {mcuLPC4337, unitTypeDisplay, 4, false, "prog_kd4_lpc4337_c4", "-- selected flash programmer for KD4 LPC4337 C4"},
    {mcuLPC4337, unitTypeDisplay, 4, true, "prog_kd4_lpc4337_large_c4", "-- selected flash programmer for KD4 LPC4337 LARGE C4"},
    {mcuLPC4337, unitTypeTransmitter, 3, false, "prog_kt5_lpc4337_c3", "-- selected flash programmer for KT5 LPC4337 C3"},
    {mcuLPC4337, unitTypeTransmitter, 3, true, "prog_kt5_lpc4337_large_c3", "-- selected flash programmer for KT5 LPC4337 C3"},
    {mcuLPC4337, unitTypeTransmitter, 4, false, "prog_kt5_lpc4337_c4", "-- selected flash programmer for KT5 LPC4337 C4"},
    {mcuLPC4337, unitTypeTransmitter, 4, true, "prog_kt5_lpc4337_large_c4", "-- selected flash programmer for KT5 LPC4337 C4"},
};
// clang-format on

constexpr StringsProgrammerEntry kStringsProgrammers[] = {
    {2, "prog_h8s2145_strings_c2", "-- selected language strings programmer for H8S2145 C2"},
    {3, "prog_h8s2145_strings_c3", "-- selected language strings programmer for H8S2145 C3"},
};

constexpr BootLoaderEntry kBootLoaders[] = {
    {mcuLPC2478, kAnyUnit, 256, "boot_kd3_lpc2478"},
    {mcuLPC1768, unitTypeTransmitter, 256, "boot_kt3_lpc1768"},
    {mcuLPC1768, unitTypeIOUnit, 256, "boot_kr3_lpc1768"},
    {mcuLPC4078, kAnyUnit, 256, "boot_kt3_lpc4078"},
    {mcuLPC4337, unitTypeDisplay, 512, "boot_kd4_lpc4337"},
    {mcuLPC4337, unitTypeTransmitter, 512, "boot_kt5_lpc4337"},
    {mcuLPC4357, unitTypeDisplay, 512, "boot_kd3_lpc4357"},
};

// The check values are those of the real 6.10r57 software; the stand-in
// images are built to give the same values.
constexpr SoftwareEntry kSoftware[] = {
    {unitTypeDisplay, mcuLPC2478, "soft_kd3_lpc2478", 0x7193221F, 0x304A},
    {unitTypeDisplay, mcuLPC4337, "soft_kd4_lpc4337", 0x1CD6C5F0, 0x26D1},
    {unitTypeDisplay, mcuLPC4357, "soft_kd3_lpc4357", 0xDFF7C009, 0x3C08},
    {unitTypeTransmitter, mcuLPC1768, "soft_kt3_lpc1768", 0xAA30E654, 0x5F8A},
    {unitTypeTransmitter, mcuLPC4078, "soft_kt3_lpc4078", 0xC1408AF7, 0xB2D1},
    {unitTypeTransmitter, mcuLPC4337, "soft_kt5_lpc4337", 0x20513140, 0xC139},
    {unitTypeIOUnit, mcuLPC1768, "soft_kr3_lpc1768", 0x46199722, 0x687D},
};

bool UnitMatches(uint8_t tableUnit, uint8_t unitType) {
  return tableUnit == kAnyUnit || tableUnit == unitType;
}

ImageRef MakeRef(const char* name, uint32_t checksum = 0, uint16_t crc = 0) {
  ImageRef ref;
  ref.name = name;
  ref.checksum = checksum;
  ref.crc = crc;
  if (const EmbeddedBlob* blob = FindEmbeddedBlob(name)) {
    ref.bytes = blob->data();
    ref.size = static_cast<uint32_t>(blob->size());
  }
  return ref;
}

// Every catalogue image resolved once; the vector is never resized after
// it is built, so the pointers handed out stay valid for the whole run.
const std::vector<ImageRef>& AllImages() {
  static const std::vector<ImageRef> images = [] {
    std::vector<ImageRef> all;
    for (const auto& e : kProgrammers) all.push_back(MakeRef(e.image));
    for (const auto& e : kStringsProgrammers) all.push_back(MakeRef(e.image));
    for (const auto& e : kBootLoaders) all.push_back(MakeRef(e.image));
    for (const auto& e : kSoftware) all.push_back(MakeRef(e.image, e.checksum, e.crc));
    return all;
  }();
  return images;
}

}  // namespace

std::span<const ProgrammerEntry> ProgrammerTable() { return kProgrammers; }
std::span<const StringsProgrammerEntry> StringsProgrammerTable() { return kStringsProgrammers; }
std::span<const BootLoaderEntry> BootLoaderTable() { return kBootLoaders; }
std::span<const SoftwareEntry> SoftwareTable() { return kSoftware; }

const ProgrammerEntry* FindProgrammer(int8_t mcuType, uint8_t unitType, int8_t bootLoaderVersion,
                                      bool large) {
  for (const auto& e : kProgrammers) {
    if (e.mcuType == mcuType && UnitMatches(e.unitType, unitType) &&
        e.bootLoaderVersion == bootLoaderVersion && e.large == large) {
      return &e;
    }
  }
  return nullptr;
}

const StringsProgrammerEntry* FindStringsProgrammer(int8_t bootLoaderVersion) {
  for (const auto& e : kStringsProgrammers) {
    if (e.bootLoaderVersion == bootLoaderVersion) return &e;
  }
  return nullptr;
}

const BootLoaderEntry* FindBootLoader(int8_t mcuType, uint8_t unitType) {
  for (const auto& e : kBootLoaders) {
    if (e.mcuType == mcuType && UnitMatches(e.unitType, unitType)) return &e;
  }
  return nullptr;
}

const SoftwareEntry* FindSoftware(uint8_t unitType, int8_t mcuType) {
  for (const auto& e : kSoftware) {
    if (e.unitType == unitType && e.mcuType == mcuType) return &e;
  }
  return nullptr;
}

const ImageRef* CatalogueImage(std::string_view name) {
  for (const ImageRef& ref : AllImages()) {
    if (name == ref.name) return ref.bytes != nullptr ? &ref : nullptr;
  }
  return nullptr;
}

}  // namespace kel
