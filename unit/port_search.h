#pragma once

#include <functional>
#include <string>
#include <vector>

#include "link/link_state.h"
#include "unit/unit_info.h"

namespace kel {

/// Finds and opens the port of the unit and identifies what answers there:
/// the port from the command line, or the environment's list, the
/// remembered port and every port 1..99, and when all fail the number the
/// operator types. Leaves the port open when a unit was found (a port that
/// opened but held no unit is also left open for ConnectToUnit to wait on);
/// a port that is missing only prints a line, and ConnectToUnit then fails.
/// Ports that are in use or refuse the speed end the run.
void ConnectUnit(Link& link, UnitInfo& unit);

/// What the searches of one connection have said about ports the user may
/// not open: each such port is named once and the way to get access is
/// given once, however many searches meet them.
struct RefusedPortNotes {
  bool hinted = false;
  std::vector<int> named;
};

/// Tries the ports named by PONDERIXPORTLIST (or PONDERIXPORT) in order;
/// true when a unit was found (its port is then open).
bool SearchEnvironmentPorts(Link& link, UnitInfo& unit, RefusedPortNotes& refused);
bool SearchEnvironmentPorts(Link& link, UnitInfo& unit);

/// Tries the remembered port, then the system's ports as the port opener
/// lists them (Bluetooth ports left out: opening one may wait for a remote
/// device for many seconds), or COM1..COM99 where it keeps no list; a unit
/// found by the scan is remembered for the next run. True when a unit was
/// found.
bool SearchAllPorts(Link& link, UnitInfo& unit, RefusedPortNotes& refused);
bool SearchAllPorts(Link& link, UnitInfo& unit);

/// The ports a port list names, in order: entries are separated by one
/// space, comma or semicolon; an entry may start with "COM" (any case) or
/// the Windows device name \\.\COM, and its number is read after blanks.
/// An entry that is a path (after blanks, it starts with "/") names a port
/// by its device, up to the next separator, and `numberForDevice` gives
/// its COM number. The first entry that does not lead with a port number
/// (no number, 0, negative or past 32767) or names no device ends the list.
std::vector<int> ParsePortList(const std::string& list,
                               const std::function<int(const std::string&)>& numberForDevice = {});

/// "COM" + the number, and the device it stands for in parentheses where
/// the port opener names one: "COM3 (/dev/ttyUSB0)".
std::string PortLabel(Link& link, int port);

}  // namespace kel
