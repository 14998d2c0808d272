#include "platform/windows_ports.h"

#include <algorithm>
#include <cctype>

namespace kel {

namespace {

constexpr char kEnumKey[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\";
constexpr char kLatencyValue[] = "\\Device Parameters\\LatencyTimer";

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool Contains(const std::string& text, const char* part) {
  return Upper(text).find(part) != std::string::npos;
}

const PortDevice* DeviceOf(int number, const std::vector<PortDevice>& devices) {
  for (const PortDevice& device : devices) {
    if (ComNumber(device.port) == number) return &device;
  }
  return nullptr;
}

}  // namespace

int ComNumber(const std::string& portName) {
  if (portName.size() < 4 || Upper(portName.substr(0, 3)) != "COM") return 0;
  int number = 0;
  for (size_t i = 3; i < portName.size(); ++i) {
    if (portName[i] < '0' || portName[i] > '9' || number > 100000) return 0;
    number = number * 10 + (portName[i] - '0');
  }
  return number;
}

std::vector<PortListing> PortsFromDeviceMap(const std::vector<DeviceMapEntry>& map,
                                            const std::vector<PortDevice>& devices) {
  std::vector<PortListing> ports;
  for (const DeviceMapEntry& entry : map) {
    const int number = ComNumber(entry.port);
    if (number == 0 || std::any_of(ports.begin(), ports.end(), [&](const PortListing& port) {
          return port.number == number;
        })) {
      continue;
    }
    PortListing port;
    port.number = number;
    port.device = "\\\\.\\COM" + std::to_string(number);
    const PortDevice* device = DeviceOf(number, devices);
    if (device != nullptr) port.description = device->friendlyName;
    // The Microsoft stack's devices are \Device\BthModemN under BTHENUM;
    // other stacks at least say so in the port's name.
    port.bluetooth = Contains(entry.device, "BTHMODEM") ||
                     (device != nullptr && (Upper(device->instanceId).rfind("BTHENUM\\", 0) == 0 ||
                                            Contains(device->friendlyName, "BLUETOOTH")));
    ports.push_back(port);
  }
  std::sort(ports.begin(), ports.end(),
            [](const PortListing& a, const PortListing& b) { return a.number < b.number; });
  return ports;
}

bool AdapterLatencyOf(int number, const std::vector<PortDevice>& devices, uint32_t& ms,
                      std::string& setting) {
  const PortDevice* device = DeviceOf(number, devices);
  if (device == nullptr || !device->hasLatencyTimer) return false;
  ms = device->latencyTimerMs;
  setting = kEnumKey + device->instanceId + kLatencyValue;
  return true;
}

}  // namespace kel
