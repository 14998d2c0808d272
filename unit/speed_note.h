#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "unit/unit_info.h"

namespace kel {

/// The speed and parity a connected unit was found at.
struct FoundSpeed {
  int32_t baudRate = 0;
  bool evenParity = false;
  /// The speeds the run moved the unit to (or asked it to move to), in
  /// order, where a later run may find it: a change whose answer was lost
  /// and a fall-back after it leave the unit at either.
  std::vector<int32_t> awayBaudRates;
};

/// A small per-port note, kept with the program's other per-user settings
/// (the registry on Windows, ~/.config/Arkwend/Ponderix on POSIX), of the
/// speed the connected unit was found at. It is written just before a run
/// first moves the unit off that speed and removed once the run has put it
/// back, so a note that outlives its run (the cable pulled during a speed
/// change, the program killed) tells the next run where the unit belongs.
/// The note names the unit (address, card and serial number); it is taken
/// only for that unit and only with a speed a unit can be moved to.
class SpeedNote {
 public:
  SpeedNote(Registry& registry, int portNumber);

  /// The noted speed when the note is there, well formed and about `unit`.
  std::optional<FoundSpeed> Read(const UnitInfo& unit) const;
  /// Notes `speed` as the one `unit` was found at (replacing any note).
  void Write(const UnitInfo& unit, const FoundSpeed& speed);
  /// Removes the note, if any.
  void Remove();

  /// The note's text for `unit` and `speed`, and its reading: nothing for
  /// any text this program would not have written, or about another unit.
  static std::string Format(const UnitInfo& unit, const FoundSpeed& speed);
  static std::optional<FoundSpeed> Parse(const std::string& text, const UnitInfo& unit);

 private:
  Registry& registry_;
  std::string path_;
};

}  // namespace kel
