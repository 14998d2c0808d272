#pragma once

// A stand-in for the machine's /dev and /sys/class/tty in a temporary
// folder: serial devices as the kernel lists them, each a link to a real
// character device (a pseudo-terminal served by the test, or /dev/null).
// Point PONDERIXSYSROOT at root() and the program takes them for the
// machine's own.

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/platform_test_support.h"

namespace kel {

class SerialTree {
 public:
  std::string root() const { return folder_.path(); }

  /// A USB serial adapter `name` (ttyUSB0, ttyACM0) whose device node links
  /// to `target`, with the USB device's attributes (empty ones left out).
  void AddUsb(const std::string& name, const std::string& target, const std::string& maker,
              const std::string& product, const std::string& serial) {
    const std::string usb = root() + "/sys/devices/usb1/1-" + std::to_string(++usbCount_);
    const std::string tty = usb + "/1-1:1.0/" + name;
    std::filesystem::create_directories(tty);
    Attribute(usb, "idVendor", "0403");
    Attribute(usb, "idProduct", "6001");
    Attribute(usb, "manufacturer", maker);
    Attribute(usb, "product", product);
    Attribute(usb, "serial", serial);
    const std::string entry = ClassEntry(name, target);
    std::filesystem::create_directory_symlink(tty, entry + "/device");
  }

  /// A built-in port `name` (ttyS0) with the kernel's port type (0: no UART).
  void AddBuiltIn(const std::string& name, const std::string& target, int type) {
    Attribute(ClassEntry(name, target), "type", std::to_string(type));
  }

 private:
  std::string ClassEntry(const std::string& name, const std::string& target) {
    const std::string entry = root() + "/sys/class/tty/" + name;
    std::filesystem::create_directories(entry);
    std::filesystem::create_directories(root() + "/dev");
    std::filesystem::create_symlink(target, root() + "/dev/" + name);
    return entry;
  }
  static void Attribute(const std::string& folder, const std::string& key,
                        const std::string& value) {
    if (!value.empty()) std::ofstream(folder + "/" + key) << value << "\n";
  }

  TemporaryFolder folder_;
  int usbCount_ = 0;
};

}  // namespace kel
