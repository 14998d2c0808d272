#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/windows_ports.h"

namespace kel {

/// The values of the serial device map; false when the map cannot be read
/// (or holds nothing), so that no list is known.
bool ReadSerialDeviceMap(std::vector<DeviceMapEntry>& entries);

/// The present devices of the ports class with their port names, friendly
/// names, instance IDs and latency timers (read only).
std::vector<PortDevice> ReadPortDevices();

/// Opens the port device `name` for overlapped reading and writing. Some
/// drivers hold the open for seconds (a Bluetooth port while the system
/// pages the remote device), so the open runs on a thread of its own and a
/// stop signal ends the process meanwhile, at once. INVALID_HANDLE_VALUE
/// with the system's code in `error` on failure.
HANDLE OpenPortHandle(const std::string& name, DWORD& error);

}  // namespace kel
