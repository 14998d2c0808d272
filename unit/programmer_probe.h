#pragma once

#include <cstdint>
#include <optional>

#include "link/link_state.h"
#include "unit/programmer_note.h"
#include "unit/unit_info.h"

namespace kel {

/// How a run ends that finds a unit running its flash programmer and
/// cannot finish the update through it.
inline constexpr char kProgrammerRunningMessage[] =
    "The unit is running its flash programmer (update cut short)";
/// Said when a programmer left running in a unit whose boot loader is
/// whole is restarted, and how long its restart is given.
inline constexpr char kRestartingLeftProgrammerLine[] =
    "-- the unit was left running its flash programmer by an earlier run: restarting it\r\n";
inline constexpr uint32_t kLeftProgrammerRestartMs = 1000;

/// True when a flash programmer answers at the boot-loader address at
/// `baudRate` (GetProgrammerVersion, two quick tries, no trace); the link is
/// left at that speed, and the version is stored in the record.
bool ProgrammerAnswers(Link& link, int32_t baudRate, UnitInfo& unit);

/// Looks on the open port for a flash programmer that an earlier run left
/// running: at the speed the port's programmer note names, then at the
/// programming speed and 115200 (each only once). When one answers, the
/// record is that of the programmer (modeFlashProgrammer at the boot-loader
/// address, the link's speed saved as the connection) and, with a note for
/// a unit on this port, of the unit the note names. `noted` gets the note
/// (or nothing when there is none for a unit on the port).
bool FindProgrammerLeftRunning(Link& link, UnitInfo& unit, std::optional<NotedProgrammer>& noted);

/// The port's programmer note, when it is about the unit the link reaches
/// now: the one on the port, or with the proxy on the one behind that jig.
std::optional<NotedProgrammer> NoteOfProgrammer(Link& link);

/// Takes the identity of the noted unit into the record of a programmer
/// that answers (connection, mode and address stay).
void TakeNotedIdentity(UnitInfo& unit, const NotedProgrammer& noted);

/// The run ends here: a programmer answers, but no note says which unit it
/// is. Says plainly that the unit must not be switched off.
[[noreturn]] void RefuseUnnotedProgrammer(Link& link);

}  // namespace kel
