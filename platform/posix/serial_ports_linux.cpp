// The machine's serial devices, from the kernel's list of terminals in
// sysfs.
#include "platform/posix/serial_ports_linux.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "platform/files.h"

namespace kel {

namespace {

constexpr int kMostPorts = 99;
// Parents of a terminal's device to climb for the USB device it belongs
// to: ttyUSB sits below the interface, ttyACM is the interface.
constexpr int kUsbLevels = 4;

// The kinds, in the order they are numbered and searched.
constexpr std::string_view kKinds[] = {"ttyUSB", "ttyACM", "ttyS"};

// The first line of a small sysfs attribute, without its line end; empty
// when it is missing.
std::string Attribute(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "re");
  if (file == nullptr) return {};
  char line[256] = {};
  const bool read = std::fgets(line, sizeof line, file) != nullptr;
  std::fclose(file);
  if (!read) return {};
  std::string text(line);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

// "ttyUSB12" of kind "ttyUSB": 12; -1 when the rest is not a number.
int KernelNumber(const std::string& name, std::string_view kind) {
  if (name.size() <= kind.size() || name.compare(0, kind.size(), kind) != 0) return -1;
  int number = 0;
  for (size_t i = kind.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || number > 100000) return -1;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

// Maker, product and serial of the USB device above the terminal's own
// device in sysfs, as one text; empty when there is none.
std::string UsbDescription(const std::string& sysRoot, const std::string& ttyFolder) {
  std::string folder = ResolveLinks(ttyFolder + "/device");
  for (int level = 0; level < kUsbLevels && folder.size() > sysRoot.size(); ++level) {
    if (!Attribute(folder + "/idVendor").empty()) {
      std::string text;
      for (const char* key : {"manufacturer", "product"}) {
        const std::string value = Attribute(folder + "/" + key);
        if (!value.empty()) text += (text.empty() ? "" : " ") + value;
      }
      const std::string serial = Attribute(folder + "/serial");
      if (!serial.empty()) text += (text.empty() ? "serial " : ", serial ") + serial;
      if (text.empty()) {
        text = "USB " + Attribute(folder + "/idVendor") + ":" + Attribute(folder + "/idProduct");
      }
      return text;
    }
    folder = folder.substr(0, folder.find_last_of('/'));
  }
  return {};
}

// A built-in port is worth trying only with a UART behind it: the kernel
// makes ttyS0..31 whether or not the hardware is there, and reports the
// port type 0 (unknown) for those without.
bool HasUart(const std::string& ttyFolder) {
  const std::string type = Attribute(ttyFolder + "/type");
  return !type.empty() && type != "0";
}

}  // namespace

std::vector<PortListing> ListLinuxSerialPorts(const std::string& root, bool& listed) {
  const std::string sysRoot = ResolveLinks(root + "/sys");
  const std::string classFolder = root + "/sys/class/tty";
  std::vector<PortListing> ports;
  DIR* dir = opendir(classFolder.c_str());
  listed = dir != nullptr;
  if (dir == nullptr) return ports;

  struct Found {
    size_t kind;
    int number;
    std::string name;
  };
  std::vector<Found> found;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    for (size_t kind = 0; kind < std::size(kKinds); ++kind) {
      const int number = KernelNumber(name, kKinds[kind]);
      if (number >= 0) found.push_back({kind, number, name});
    }
  }
  closedir(dir);
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return a.kind != b.kind ? a.kind < b.kind : a.number < b.number;
  });

  for (const Found& device : found) {
    if (static_cast<int>(ports.size()) >= kMostPorts) break;
    const std::string folder = classFolder + "/" + device.name;
    const std::string path = root + "/dev/" + device.name;
    if (!IsCharacterDevice(path)) continue;
    if (kKinds[device.kind] == "ttyS" && !HasUart(folder)) continue;
    PortListing port;
    port.number = static_cast<int>(ports.size()) + 1;
    port.device = path;
    port.description = UsbDescription(sysRoot, folder);
    ports.push_back(port);
  }
  return ports;
}

}  // namespace kel
