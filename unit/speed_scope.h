#pragma once

#include <cstdint>
#include <vector>

#include "link/link_state.h"
#include "unit/speed_note.h"
#include "unit/unit_info.h"

namespace kel {

/// While it lives, every way out of the run (the orderly end, a fatal
/// error, a stop signal) first puts back what the run moved since the
/// connected unit was found: the unit it left in its boot loader or flash
/// programmer restarted (RestartUnitLeftOut), a test jig's proxy (its link
/// to the unit behind it back at that unit's speed, forwarding ended), then
/// the connected unit and the link at the speed and parity the unit was
/// found at. Registered with the runtime (Runtime::restoreLink), which runs it at
/// most once; it never ends the run itself and takes a few seconds at most,
/// so the way out keeps its own message and exit code. Nothing is sent when
/// nothing moved.
///
/// Just before the run first moves the unit, its found speed is noted for
/// the port (SpeedNote); the note goes once the unit is back. A unit found
/// at another speed than a note of an earlier run names for it was left
/// there by that run (it could not reach the unit to put it back): this run
/// leaves it at the noted speed instead, and then removes the note.
class SpeedScope {
 public:
  /// Takes the link's present speed and parity as those the connected unit
  /// was found at. A unit found in its boot loader, or no longer running its
  /// application when the run ends (its boot loader or programmer starts
  /// again at its own speed), is not moved back: only application software
  /// changes speed on request. A proxy still is.
  SpeedScope(Link& link, const UnitInfo& connected);
  /// Unregisters; puts nothing back (the orderly end does, through the runtime).
  ~SpeedScope();
  SpeedScope(const SpeedScope&) = delete;
  SpeedScope& operator=(const SpeedScope&) = delete;

 private:
  void PutBack();
  void NoteFoundSpeed(int32_t baudRate, bool connectedUnit);

  Link& link_;
  const UnitInfo& connected_;
  uint8_t unitAddress_;
  bool movable_;
  int32_t foundBaudRate_;
  bool foundEvenParity_;
  SpeedNote note_;
  bool noted_ = false;                  // the note stands for this run's found speed
  std::vector<int32_t> awayBaudRates_;  // other speeds asked for, in order
};

}  // namespace kel
