#include "platform/windows_ports.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

const std::vector<PortDevice> kDevices = {
    {"COM3", "USB Serial Port (COM3)", "FTDIBUS\\VID_0403+PID_6001+A10K3ZQ1A\\0000", true, 16},
    {"COM7", "Standard Serial over Bluetooth link (COM7)",
     "BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1&0&000000000000_00000004",
     false, 0},
    {"COM9", "Toshiba Bluetooth Port (COM9)", "TOSRFBD\\PORT\\1", false, 0},
    {"COM1", "Communications Port (COM1)", "ACPI\\PNP0501\\1", false, 0},
};

// The device map's ports by number, each once, with the friendly names;
// Bluetooth ports are known by the stack's device name, enumerator or name.
TEST(WindowsPorts, DeviceMapGivesThePortsWithBluetoothMarked) {
  const std::vector<DeviceMapEntry> map = {
      {"\\Device\\VCP0", "COM3"},      {"\\Device\\BthModem1", "COM8"},
      {"\\Device\\BthModem0", "COM7"}, {"\\Device\\Serial0", "COM1"},
      {"\\Device\\TosBt0", "COM9"},    {"\\Device\\Other", "LPT1"},
      {"\\Device\\Serial0", "COM1"},
  };
  const std::vector<PortListing> ports = PortsFromDeviceMap(map, kDevices);
  struct Expected {
    int number;
    const char* description;
    bool bluetooth;
  } expected[] = {{1, "Communications Port (COM1)", false},
                  {3, "USB Serial Port (COM3)", false},
                  {7, "Standard Serial over Bluetooth link (COM7)", true},
                  {8, "", true},
                  {9, "Toshiba Bluetooth Port (COM9)", true}};
  ASSERT_EQ(ports.size(), std::size(expected));
  for (size_t i = 0; i < ports.size(); ++i) {
    EXPECT_EQ(ports[i].number, expected[i].number);
    EXPECT_EQ(ports[i].device, "\\\\.\\COM" + std::to_string(expected[i].number));
    EXPECT_EQ(ports[i].description, expected[i].description);
    EXPECT_EQ(ports[i].bluetooth, expected[i].bluetooth) << ports[i].number;
  }
  EXPECT_EQ(ComNumber("com12"), 12);
  EXPECT_EQ(ComNumber("COM"), 0);
  EXPECT_EQ(ComNumber("COM1x"), 0);
}

TEST(WindowsPorts, TheAdaptersLatencyTimerAndWhereItIsSet) {
  uint32_t ms = 0;
  std::string setting;
  ASSERT_TRUE(AdapterLatencyOf(3, kDevices, ms, setting));
  EXPECT_EQ(ms, 16u);
  EXPECT_EQ(setting,
            "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+"
            "A10K3ZQ1A\\0000\\Device Parameters\\LatencyTimer");
  EXPECT_FALSE(AdapterLatencyOf(1, kDevices, ms, setting));  // no such setting
  EXPECT_FALSE(AdapterLatencyOf(4, kDevices, ms, setting));  // no such port
}

}  // namespace
}  // namespace kel
