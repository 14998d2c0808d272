// The machine's serial devices, from the kernel's list of terminals in
// sysfs.
#include "platform/posix/serial_ports_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
// when it is missing or not a plain file. Nothing in it is trusted: a
// folder may stand in for sysfs (PONDERIXSYSROOT) or a driver may report
// anything, so only a plain file is opened (a FIFO would block the open,
// a device could have effects or never end), at most a line is read, and
// every byte that a terminal could act on (control characters, escape
// sequences, bytes above ASCII) is shown as "?", as the text is printed.
std::string Attribute(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {};
  char line[256];
  ssize_t count = -1;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    do {
      count = read(fd, line, sizeof line);
    } while (count < 0 && errno == EINTR);
  }
  close(fd);
  std::string text;
  for (ssize_t i = 0; i < count && line[i] != '\n' && line[i] != '\r' && line[i] != '\0'; ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    text += c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
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
