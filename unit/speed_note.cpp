#include "unit/speed_note.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

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
  std::string away;
  for (const int32_t rate : speed.awayBaudRates) {
    away += (away.empty() ? "" : ",") + std::to_string(rate);
  }
  char text[96];
  std::snprintf(text, sizeof text, " %c %u %u %ld", speed.evenParity ? 'E' : 'N',
                static_cast<unsigned>(unit.unitAddress), static_cast<unsigned>(unit.cardNumber),
                static_cast<long>(unit.serialNumber));
  return std::to_string(speed.baudRate) + " " + away + text;
}

std::optional<FoundSpeed> SpeedNote::Parse(const std::string& text, const UnitInfo& unit) {
  // Only the exact text Format makes for this unit: speeds a unit can be
  // moved to, the away ones other than the found one and each once.
  // Whatever else stands there (edited, cut short, another unit's) moves
  // nothing.
  const auto isSpeed = [](long rate) {
    return std::find(kUnitSpeeds.begin(), kUnitSpeeds.end(), rate) != kUnitSpeeds.end();
  };
  const size_t first = text.find(' ');
  if (first == std::string::npos) return std::nullopt;
  const size_t second = text.find(' ', first + 1);
  if (second == std::string::npos || second + 2 > text.size()) return std::nullopt;
  FoundSpeed noted;
  char* end = nullptr;
  noted.baudRate = static_cast<int32_t>(std::strtol(text.c_str(), &end, 10));
  if (!isSpeed(noted.baudRate)) return std::nullopt;
  for (size_t at = first + 1; at < second;) {
    const long rate = std::strtol(text.c_str() + at, &end, 10);
    if (!isSpeed(rate) || rate == noted.baudRate ||
        std::find(noted.awayBaudRates.begin(), noted.awayBaudRates.end(), rate) !=
            noted.awayBaudRates.end()) {
      return std::nullopt;
    }
    noted.awayBaudRates.push_back(static_cast<int32_t>(rate));
    at = static_cast<size_t>(end - text.c_str()) + 1;
  }
  if (noted.awayBaudRates.empty()) return std::nullopt;
  noted.evenParity = text[second + 1] == 'E';
  if (Format(unit, noted) != text) return std::nullopt;
  return noted;
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
