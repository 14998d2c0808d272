#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "link/comm_port.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/process_exit.h"
#include "platform/registry.h"
#include "platform/serial_device.h"
#include "runtime/output.h"
#include "runtime/runtime.h"

namespace kel {
namespace {

// These tests need a COM port whose far end echoes every byte, e.g. a
// pseudo-terminal mapped into wine by scripts/wine-serial-test.sh, which
// names the port in KEL_WINE_COM_PORT.
int EchoPort() {
  const char* value = std::getenv("KEL_WINE_COM_PORT");
  return value ? std::atoi(value) : 0;
}

std::string ReadFor(SerialDevice& device, size_t want) {
  std::string got;
  const uint32_t start = SystemClock().Ticks();
  while (got.size() < want && SystemClock().Ticks() - start < 2000) {
    device.WaitReadable(10);
    uint8_t buf[64];
    const int n = device.Read(buf, sizeof buf);
    if (n < 0) break;
    got.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
  }
  return got;
}

TEST(Win32Serial, DeviceOpensWritesReadsAndChangesSpeed) {
  const int port = EchoPort();
  if (port == 0) GTEST_SKIP() << "no echoing COM port mapped (KEL_WINE_COM_PORT)";
  SerialOpenError error;
  EXPECT_EQ(SystemSerialPorts().Open(250, SerialConfig{}, error), nullptr);
  EXPECT_EQ(error.outcome, SerialOpenOutcome::kNotPresent);

  SerialConfig config;
  config.parityOn = config.evenParity = true;
  auto device = SystemSerialPorts().Open(port, config, error);
  ASSERT_NE(device, nullptr) << error.systemText;
  EXPECT_TRUE(device->Purge());

  const std::string hello = "hello, unit";
  EXPECT_EQ(device->Write(reinterpret_cast<const uint8_t*>(hello.data()), hello.size()),
            static_cast<int>(hello.size()));
  EXPECT_TRUE(device->Drain(2000));
  EXPECT_EQ(ReadFor(*device, hello.size()), hello);

  EXPECT_TRUE(device->SetSpeedInPlace(115200));
  const uint8_t probe[] = {0x01, 0x41, 0xC0, 0x10};
  EXPECT_EQ(device->Write(probe, 4), 4);
  EXPECT_EQ(ReadFor(*device, 4), std::string("\x01\x41\xC0\x10", 4));
  LineErrors errors;
  EXPECT_TRUE(device->TakeLineErrors(errors));
}

// A quiet line: waits must end at their timeout (some drivers end every
// event wait at once with no event, which must not turn into a hang or a
// busy loop), reads of an empty queue return nothing at once, and a byte
// that comes after such waits is still seen.
TEST(Win32Serial, QuietLineWaitsEndOnTimeAndLaterBytesArrive) {
  const int port = EchoPort();
  if (port == 0) GTEST_SKIP() << "no echoing COM port mapped (KEL_WINE_COM_PORT)";
  SerialOpenError error;
  SerialConfig config;
  config.baudRate = 115200;
  auto device = SystemSerialPorts().Open(port, config, error);
  ASSERT_NE(device, nullptr) << error.systemText;
  EXPECT_TRUE(device->Purge());

  for (int round = 0; round < 3; ++round) {
    const uint32_t start = SystemClock().Ticks();
    EXPECT_FALSE(device->WaitReadable(150));
    const uint32_t spent = SystemClock().Ticks() - start;
    EXPECT_GE(spent, 140u);
    EXPECT_LT(spent, 1500u);
    uint8_t buf[16];
    const uint32_t readStart = SystemClock().Ticks();
    EXPECT_EQ(device->Read(buf, sizeof buf), 0);
    EXPECT_LT(SystemClock().Ticks() - readStart, 500u);
  }

  const uint8_t byte = 0x3F;
  EXPECT_EQ(device->Write(&byte, 1), 1);
  EXPECT_TRUE(device->WaitReadable(2000));
  EXPECT_EQ(ReadFor(*device, 1), "?");
}

TEST(Win32Serial, CommPortExchangesAndReopens) {
  const int port = EchoPort();
  if (port == 0) GTEST_SKIP() << "no echoing COM port mapped (KEL_WINE_COM_PORT)";
  Options options;
  options.portNumber = static_cast<int16_t>(port);
  ScriptedConsole console;
  Output out(console, SystemClock(), options);
  MapEnvironment env;
  MapRegistry registry;
  ThrowingExit exit;
  Runtime runtime{options, out, SystemClock(), console, env, registry, exit, {}};
  CommPort comm(runtime, SystemSerialPorts());
  ASSERT_TRUE(comm.OpenPort());
  comm.settings().receiveTimeoutMs = 1000;

  const uint8_t request[] = {0x01, 0x41, 0xC0, 0x10};
  EXPECT_EQ(comm.WriteCommPortOverlapped(request, 4), 4);
  uint8_t reply[4] = {};
  EXPECT_EQ(comm.ReceiveBlock(reply, 4), 4u);
  EXPECT_EQ(reply[3], 0x10);

  options.initialBaudRate = 57600;
  ASSERT_TRUE(comm.ChangeBaudRate());
  EXPECT_EQ(comm.WriteCommPortOverlapped(request, 4), 4);
  EXPECT_TRUE(comm.FlushPendingWrites());
  EXPECT_EQ(comm.ReceiveBlock(reply, 4), 4u);
  comm.ClosePort();
  EXPECT_FALSE(comm.isOpen());
}

}  // namespace
}  // namespace kel
