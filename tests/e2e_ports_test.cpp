// End to end: the real program on ports named by their devices and on the
// machine's own serial devices, with the simulator serving a unit on a
// pseudo-terminal (POSIX only).
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/e2e_fixture.h"
#include "tests/sample_units.h"
#include "tests/serial_tree.h"

namespace kel {
namespace {

class PortsRun : public ProgramRunFixture {
 protected:
  void SetUp() override {
    if (!HaveSimulator()) GTEST_SKIP() << "the simulator program is not part of this build";
    ProgramRunFixture::SetUp();
    UsePrivateCopy();
    StartSim(std::string(kOnComThree) + kLoneKt5, 3);
    device = std::filesystem::canonical(comDir() + "/com3").string();
  }
  // No comN folder: the ports are the machine's, here those of `tree`.
  std::string MachinePorts() { return "PONDERIXCOMDIR= PONDERIXSYSROOT=" + Quoted(tree.root()); }

  std::string device;  // the pseudo-terminal the unit is served on
  SerialTree tree;
};

TEST_F(PortsRun, APortNamedByItsDevicePath) {
  ASSERT_EQ(Run("-i -y " + device, MachinePorts()), 0) << output;
  EXPECT_TRUE(Has("COM1 (" + device + ") opened\r\n")) << output;
  EXPECT_TRUE(Has("-- interrogating unit\r\n")) << output;
  EXPECT_FALSE(Has("Fatal Error"));
}

// Without a comN folder the search covers the machine's serial devices,
// USB adapters first, and finds the unit on one; --list-ports shows them.
TEST_F(PortsRun, TheSearchFindsAUnitOnAUsbAdapter) {
  tree.AddBuiltIn("ttyS0", "/dev/null", 4);
  tree.AddUsb("ttyUSB0", device, "FTDI", "FT232R USB UART", "A10K3ZQ1");
  const std::string adapter = tree.root() + "/dev/ttyUSB0";

  ASSERT_EQ(Run("--list-ports", MachinePorts()), 0) << output;
  EXPECT_TRUE(Has("COM1   " + adapter + "  FTDI FT232R USB UART, serial A10K3ZQ1\r\n")) << output;
  EXPECT_TRUE(Has("COM2   " + tree.root() + "/dev/ttyS0\r\n")) << output;
  EXPECT_TRUE(Logs().empty());

  ASSERT_EQ(Run("-i -y", MachinePorts()), 0) << output;
  EXPECT_TRUE(Has("COM1 (" + adapter + ") opened\r\n")) << output;
  EXPECT_TRUE(Has("-- interrogating unit\r\n")) << output;
  EXPECT_FALSE(Has("COM2"));
}

}  // namespace
}  // namespace kel

#endif
