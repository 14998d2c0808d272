#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/registry.h"
#include "unit/unit_info.h"

namespace kel {

/// A unit left running the flash programmer a run downloaded into it, as
/// that run noted it: who the unit is (its identity from before it left its
/// software, which the programmer cannot tell), where it is, and what was
/// still to be written into it.
struct NotedProgrammer {
  /// Card, circuit, serial number, MCU and unit type, boot loader, flags
  /// and software, as the unit reported them.
  UnitInfo unit;
  /// The speed the programmer answers at on the port (directly connected).
  int32_t baudRate = 0;
  /// The test jig it sits behind (its address), or 0 when it is on the port.
  uint8_t jigAddress = 0;
  /// Where the boot loader stood.
  enum class BootLoader : uint8_t {
    kDone,      ///< written whole, or not to be written
    kDue,       ///< to be written; the old one is still whole
    kUnderWay,  ///< being written: the boot region may hold no whole boot loader
  };
  BootLoader bootLoader = BootLoader::kDone;
  /// The software was due, or under way.
  bool softwareDue = false;
  /// The CRC-16 of the unit's backup fields as read before its boot loader
  /// was written, or -1: a later run that finds the fields there tells by it
  /// that the programmer runs in the noted unit.
  int32_t backupCheck = -1;
  /// The file the backup fields were kept in for that write (a name in the
  /// run's record folder), or empty.
  std::string keptCopy;
};

/// One such note per port, kept with the program's other per-user settings
/// (the registry on Windows, ~/.config/Arkwend/Ponderix on POSIX), so that a
/// run that finds the unit still running its programmer (after a stop, a
/// killed run, a line that failed) can finish the update through it
/// without a power cycle, which would leave a half-written boot loader
/// unable to start. Written once the programmer runs and whenever what is
/// due changes; removed once the unit has been restarted out of it.
class ProgrammerNote {
 public:
  ProgrammerNote(Registry& registry, int portNumber);

  /// The note, when one is there and well formed.
  std::optional<NotedProgrammer> Read() const;
  void Write(const NotedProgrammer& noted);
  void Remove();

  /// The note's text, and its reading: nothing for any text this program
  /// would not have written.
  static std::string Format(const NotedProgrammer& noted);
  static std::optional<NotedProgrammer> Parse(const std::string& text);

 private:
  Registry& registry_;
  std::string path_;
};

}  // namespace kel
