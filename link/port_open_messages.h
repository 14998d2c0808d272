#pragma once

#include <string>

#include "platform/serial_device.h"

namespace kel {

/// Where a message about a port that could not be opened stands, which
/// decides the wording of the catch-all case: the open's own trace, a port
/// search's list, or the reason the run ends.
enum class OpenMessageUse { kTrace, kSearch, kFatal };

/// The program's words for the port `name` ("COM3", or "COM3 (/dev/ttyUSB0)"
/// for a port known by its device) that could not be opened as `error`
/// says, without a line end. Every text about a failed open comes from
/// here. A permission refusal names the device; in a search list the hint
/// on how to get access is left to PermissionHint, so that it is said once.
std::string PortOpenMessage(const std::string& name, const SerialOpenError& error,
                            OpenMessageUse use);

/// How an ordinary user gets access to the device of a refused open: be a
/// member of the group that owns it, or, when that group may not use it or
/// is root's, ask an administrator (the device's owner is named).
std::string PermissionHint(const SerialOpenError& error);

}  // namespace kel
