// The system's lists of serial ports, and the open of one, kept thin: what
// is decided from the values read is in platform/windows_ports.
#include <windows.h>
// After windows.h, which they need; initguid.h makes devguid.h define the
// class GUIDs rather than only declare them.
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <cstring>
#include <memory>

#include "platform/signals.h"
#include "platform/win32/port_devices_win32.h"

namespace kel {

namespace {

constexpr char kDeviceMapKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// A REG_SZ value of an open key; empty when missing or of another type.
std::string StringValue(HKEY key, const char* name) {
  char buffer[512] = {};
  DWORD type = 0;
  DWORD size = sizeof buffer - 1;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  return std::string(buffer, strnlen(buffer, size));
}

// The open's work and result, shared with its thread. The thread owns it
// once the caller has left: a stop may end the wait before the open does.
struct OpenWork {
  std::string name;
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD error = 0;
};

DWORD WINAPI RunOpen(void* parameter) {
  auto* work = static_cast<OpenWork*>(parameter);
  work->handle = CreateFileA(work->name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  work->error = work->handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  return 0;
}

}  // namespace

bool ReadSerialDeviceMap(std::vector<DeviceMapEntry>& entries) {
  entries.clear();
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDeviceMapKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  for (DWORD index = 0;; ++index) {
    char name[512] = {};
    char data[512] = {};
    DWORD nameSize = sizeof name;
    DWORD dataSize = sizeof data - 1;
    DWORD type = 0;
    const LONG result = RegEnumValueA(key, index, name, &nameSize, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) continue;
    if (type == REG_SZ) entries.push_back({name, std::string(data, strnlen(data, dataSize))});
  }
  RegCloseKey(key);
  return !entries.empty();
}

std::vector<PortDevice> ReadPortDevices() {
  std::vector<PortDevice> devices;
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return devices;
  SP_DEVINFO_DATA info = {};
  info.cbSize = sizeof info;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &info); ++index) {
    PortDevice device;
    HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key != INVALID_HANDLE_VALUE) {
      device.port = StringValue(key, "PortName");
      DWORD latency = 0;
      DWORD type = 0;
      DWORD size = sizeof latency;
      device.hasLatencyTimer =
          RegQueryValueExA(key, "LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&latency),
                           &size) == ERROR_SUCCESS &&
          type == REG_DWORD;
      device.latencyTimerMs = latency;
      RegCloseKey(key);
    }
    char text[512] = {};
    if (SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_FRIENDLYNAME, nullptr,
                                          reinterpret_cast<BYTE*>(text), sizeof text - 1,
                                          nullptr)) {
      device.friendlyName = text;
    }
    char id[512] = {};
    if (SetupDiGetDeviceInstanceIdA(set, &info, id, sizeof id - 1, nullptr)) device.instanceId = id;
    if (!device.port.empty()) devices.push_back(device);
  }
  SetupDiDestroyDeviceInfoList(set);
  return devices;
}

HANDLE OpenPortHandle(const std::string& name, DWORD& error) {
  auto work = std::make_unique<OpenWork>();
  work->name = name;
  HANDLE thread = CreateThread(nullptr, 0, RunOpen, work.get(), 0, nullptr);
  if (thread == nullptr) {
    // No thread to spare: open here, as the only thread.
    RunOpen(work.get());
    error = work->error;
    return work->handle;
  }
  HANDLE stop = static_cast<HANDLE>(StopSignalEvent());
  HANDLE waits[2] = {thread, stop};
  const DWORD woke = WaitForMultipleObjects(stop != nullptr ? 2 : 1, waits, FALSE, INFINITE);
  if (woke == WAIT_OBJECT_0 + 1) {
    // Stopped while the driver holds the open: the thread keeps its work
    // (and any handle it gets) until the process ends, right here.
    OpenWork* running = work.release();
    ExitIfStopRequested();
    // Not acted on after all: the open ends as usual.
    WaitForSingleObject(thread, INFINITE);
    work.reset(running);
  }
  CloseHandle(thread);
  error = work->error;
  return work->handle;
}

}  // namespace kel
