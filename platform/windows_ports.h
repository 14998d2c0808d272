#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/serial_device.h"

namespace kel {

// The Windows side lists its ports from raw values of the system: the
// serial device map and each port device's settings. The decisions made of
// them are here, apart from the Win32 calls, so that they can be tested
// with values no test machine shows (Bluetooth ports, adapters' timers).

/// One value of the serial device map (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM):
/// the driver's device name and the port's name.
struct DeviceMapEntry {
  std::string device;  ///< \Device\Serial0, \Device\VCP0, \Device\BthModem2
  std::string port;    ///< COM3
};

/// What the system keeps for one port device (the ports class).
struct PortDevice {
  std::string port;          ///< PortName: COM3
  std::string friendlyName;  ///< USB Serial Port (COM3)
  std::string instanceId;    ///< FTDIBUS\VID_0403+PID_6001+A10K3ZQ1A\0000
  bool hasLatencyTimer = false;
  uint32_t latencyTimerMs = 0;  ///< LatencyTimer in the device's parameters
};

/// The n of "COMn" (any case); 0 for any other name.
int ComNumber(const std::string& portName);

/// The ports of the device map by COM number, each with its friendly name
/// and marked when it is a Bluetooth port (the Bluetooth stack's device
/// name, enumerator or name). Entries that name no COM port are left out,
/// and a port named twice is listed once.
std::vector<PortListing> PortsFromDeviceMap(const std::vector<DeviceMapEntry>& map,
                                            const std::vector<PortDevice>& devices);

/// The latency timer of the adapter behind COM`number`, and the registry
/// value that sets it; false when the port's driver keeps none.
bool AdapterLatencyOf(int number, const std::vector<PortDevice>& devices, uint32_t& ms,
                      std::string& setting);

}  // namespace kel
