#include "platform/posix/serial_ports_linux.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/posix/child_process_posix_test.h"
#include "platform/pseudo_terminal.h"
#include "tests/platform_test_support.h"
#include "tests/serial_tree.h"

namespace kel {
namespace {

// USB adapters first, then USB modems and virtual COM ports, then built-in
// ports with a UART; by kernel number within each; a device without its
// node in /dev is left out.
TEST(LinuxSerialPorts, ListsUsbFirstThenBuiltInPortsWithAUart) {
  SerialTree tree;
  tree.AddBuiltIn("ttyS1", "/dev/null", 4);
  tree.AddBuiltIn("ttyS0", "/dev/null", 0);  // no UART behind it
  tree.AddUsb("ttyACM0", "/dev/null", "Arkwend", "KD4 display", "");
  tree.AddUsb("ttyUSB10", "/dev/null", "FTDI", "FT232R USB UART", "A10K3ZQ1");
  tree.AddUsb("ttyUSB2", "/dev/null", "", "", "");
  tree.AddUsb("ttyUSB3", "/dev/null", "FTDI", "", "");
  std::filesystem::remove(tree.root() + "/dev/ttyUSB3");

  bool listed = false;
  const std::vector<PortListing> ports = ListLinuxSerialPorts(tree.root(), listed);
  EXPECT_TRUE(listed);
  struct Expected {
    const char* name;
    const char* description;
  } expected[] = {{"ttyUSB2", "USB 0403:6001"},
                  {"ttyUSB10", "FTDI FT232R USB UART, serial A10K3ZQ1"},
                  {"ttyACM0", "Arkwend KD4 display"},
                  {"ttyS1", ""}};
  ASSERT_EQ(ports.size(), std::size(expected));
  for (size_t i = 0; i < ports.size(); ++i) {
    EXPECT_EQ(ports[i].number, static_cast<int>(i) + 1);
    EXPECT_EQ(ports[i].device, tree.root() + "/dev/" + expected[i].name);
    EXPECT_EQ(ports[i].description, expected[i].description);
  }

  TemporaryFolder bare;
  EXPECT_TRUE(ListLinuxSerialPorts(bare.path(), listed).empty());
  EXPECT_FALSE(listed);
}

// What sysfs, or a folder standing in for it, holds is never trusted: a
// FIFO or a device in an attribute's place is not read (it would block the
// listing or never end), and bytes a terminal acts on reach no console.
TEST(LinuxSerialPorts, AttributesAreReadOnlyAsShortPlainText) {
  SerialTree tree;
  tree.AddUsb("ttyUSB0", "/dev/null", "EVIL", "", "");
  tree.AddBuiltIn("ttyS0", "/dev/null", 4);
  const std::string usb = tree.root() + "/sys/devices/usb1/1-1";
  std::ofstream(usb + "/manufacturer") << "EVIL\x1b]0;owned\a\xc2\x9b" << std::string(300, 'x');
  ASSERT_EQ(mkfifo((usb + "/product").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", usb + "/serial");
  const std::string type = tree.root() + "/sys/class/tty/ttyS0/type";
  std::filesystem::remove(type);
  ASSERT_EQ(mkfifo(type.c_str(), 0600), 0);

  const ChildResult child = RunForked(
      [&](int report) {
        bool listed = false;
        for (const PortListing& port : ListLinuxSerialPorts(tree.root(), listed)) {
          WriteAll(report, port.description + "|");
        }
      },
      5000);
  EXPECT_EQ(child.exitCode, 0);
  EXPECT_EQ(child.report, "EVIL?]0;owned???" + std::string(256 - 16, 'x') + "|");
}

// The system's opener numbers the ports from that list: a device named by
// its path, or by a link to it, opens as its listed port; any other device
// gets a number no listed port has.
TEST(LinuxSerialPorts, APortNamedByItsDeviceOpensAsItsNumber) {
  std::string error;
  auto pty = OpenPseudoTerminal(error);
  ASSERT_NE(pty, nullptr) << error;
  SerialTree tree;
  tree.AddUsb("ttyUSB0", pty->slavePath(), "FTDI", "FT232R USB UART", "A1");
  SetProcessEnvironment("PONDERIXCOMDIR", nullptr);
  SetProcessEnvironment(kSystemRootVariable, tree.root().c_str());
  SerialPortOpener& ports = SystemSerialPorts();

  EXPECT_EQ(ports.NumberForDevice(pty->slavePath()), 1);
  EXPECT_EQ(ports.NumberForDevice(tree.root() + "/dev/ttyUSB0"), 1);
  EXPECT_EQ(ports.DeviceOf(1), tree.root() + "/dev/ttyUSB0");
  const int other = ports.NumberForDevice("/dev/null");
  EXPECT_EQ(other, 2);
  EXPECT_EQ(ports.NumberForDevice("/dev/null"), other);
  EXPECT_EQ(ports.DeviceOf(other), "/dev/null");

  SerialOpenError openError;
  auto device = ports.Open(1, SerialConfig{}, openError);
  ASSERT_NE(device, nullptr) << openError.systemText;
  const uint8_t byte = 0x55;
  EXPECT_EQ(device->Write(&byte, 1), 1);
  EXPECT_TRUE(device->Drain(1000));
  EXPECT_EQ(ports.Open(3, SerialConfig{}, openError), nullptr);
  EXPECT_EQ(openError.outcome, SerialOpenOutcome::kNotPresent);
  SetProcessEnvironment(kSystemRootVariable, nullptr);
}

}  // namespace
}  // namespace kel
