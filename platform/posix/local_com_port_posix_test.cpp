#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/pseudo_terminal.h"
#include "platform/serial_device.h"
#include "tests/platform_test_support.h"

namespace kel {
namespace {

std::string ComDir() {
  const char* value = std::getenv("PONDERIXCOMDIR");
  return value ? value : "";
}

// Reads from the far end until `want` bytes came or a second passed.
std::string ReadFarEnd(PseudoTerminal& pty, size_t want) {
  std::string got;
  for (int i = 0; i < 20 && got.size() < want; ++i) {
    if (WaitForTerminals({&pty}, 50).empty()) continue;
    uint8_t buf[64];
    const int n = pty.Read(buf, sizeof buf);
    if (n < 0) break;
    got.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
  }
  return got;
}

// The program side opens the port by number through the usual opener and
// talks to the far end both ways; afterwards the folder and link are gone
// and PONDERIXCOMDIR is what it was before.
TEST(LocalComPort, ServesAComPortInProcessAndCleansUp) {
  SetProcessEnvironment("PONDERIXCOMDIR", "/previous/comdir");
  std::string folder;
  {
    std::string error;
    auto com = LocalComPort::Open(6, error);
    ASSERT_NE(com, nullptr) << error;
    folder = com->folder();
    EXPECT_EQ(ComDir(), folder);
    EXPECT_TRUE(std::filesystem::is_symlink(folder + "/com6"));

    SerialOpenError openError;
    auto device = SystemSerialPorts().Open(6, SerialConfig{}, openError);
    ASSERT_NE(device, nullptr) << openError.systemText;
    const uint8_t request[] = {0x01, 0x41};
    ASSERT_EQ(device->Write(request, 2), 2);
    ASSERT_TRUE(device->Drain(1000));
    EXPECT_EQ(ReadFarEnd(com->terminal(), 2), std::string("\x01\x41", 2));

    const uint8_t reply[] = {0x01, 0x42, 0x00};
    ASSERT_EQ(com->terminal().Write(reply, 3), 3);
    ASSERT_TRUE(device->WaitReadable(1000));
    uint8_t got[8] = {};
    EXPECT_EQ(device->Read(got, sizeof got), 3);
    EXPECT_EQ(got[1], 0x42);
  }
  EXPECT_FALSE(std::filesystem::exists(folder));
  EXPECT_EQ(ComDir(), "/previous/comdir");
  SetProcessEnvironment("PONDERIXCOMDIR", nullptr);

  std::string error;
  EXPECT_EQ(LocalComPort::Open(0, error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ComDir(), "");
}

}  // namespace
}  // namespace kel
