#include "unit/speed_note.h"

#include <cstdio>

#include "runtime/registry_settings.h"
#include "unit/link_speed.h"

namespace kel {

namespace {

// "SOFTWARE\Arkwend\Ponderix\FoundSpeedCOM3": beside the remembered port.
constexpr char kNoteKey[] = "SOFTWARE\\Arkwend\\Ponderix\\FoundSpeedCOM";

}  // namespace

SpeedNote::SpeedNote(Registry& registry, int portNumber)
    : registry_(registry), path_(kNoteKey + std::to_string(portNumber)) {}

std::string SpeedNote::Format(const UnitInfo& unit, const FoundSpeed& speed) {
  char text[96];
  std::snprintf(text, sizeof text, "%ld %ld %c %u %u %ld", static_cast<long>(speed.baudRate),
                static_cast<long>(speed.awayBaudRate), speed.evenParity ? 'E' : 'N',
                static_cast<unsigned>(unit.unitAddress), static_cast<unsigned>(unit.cardNumber),
                static_cast<long>(unit.serialNumber));
  return text;
}

std::optional<FoundSpeed> SpeedNote::Parse(const std::string& text, const UnitInfo& unit) {
  // Only the exact text Format makes for this unit; whatever else stands
  // there (edited, cut short, another unit's) moves nothing.
  for (const int32_t speed : kUnitSpeeds) {
    for (const int32_t away : kUnitSpeeds) {
      for (const bool even : {false, true}) {
        const FoundSpeed noted{speed, even, away};
        if (away != speed && text == Format(unit, noted)) return noted;
      }
    }
  }
  return std::nullopt;
}

std::optional<FoundSpeed> SpeedNote::Read(const UnitInfo& unit) const {
  // Bounded, and only from a regular file (or a string value): the registry
  // reads nothing else.
  return Parse(ReadRegistryString(registry_, path_), unit);
}

void SpeedNote::Write(const UnitInfo& unit, const FoundSpeed& speed) {
  // Written beside and renamed over (a single value on Windows): a reader
  // never sees half a note.
  WriteRegistryString(registry_, path_, Format(unit, speed));
}

void SpeedNote::Remove() {
  // Only a note of this program's making is deleted (on POSIX a regular
  // file); anything else standing at its name stays.
  WriteRegistryString(registry_, path_, "");
}

}  // namespace kel
