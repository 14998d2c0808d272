#pragma once

#include <string>
#include <vector>

#include "platform/serial_device.h"

namespace kel {

/// The environment variable that names a folder to stand for "/" when the
/// machine's serial devices are listed: its dev/ and sys/class/tty/ are
/// read instead of /dev and /sys/class/tty, so that a test can offer a
/// "USB" device that is really a pseudo-terminal.
inline constexpr char kSystemRootVariable[] = "PONDERIXSYSROOT";

/// The serial devices under `root` (empty for the machine itself), each
/// with its COM number, in the order a search tries them: USB serial
/// adapters (ttyUSB), then USB modems and virtual COM ports (ttyACM), then
/// built-in ports (ttyS) that have a UART behind them. Within a kind by
/// their kernel number, so a machine whose devices stay the same gives
/// each the same COM number from run to run. At most 99 ports. A USB
/// device's description is its maker, product and serial number as sysfs
/// gives them. `listed` is false when the system keeps no list there (no
/// sys/class/tty), so COM numbers cannot be found from it.
std::vector<PortListing> ListLinuxSerialPorts(const std::string& root, bool& listed);

}  // namespace kel
