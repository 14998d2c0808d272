// The Win32 device's write queue and read bound on a named pipe, whose far
// end the test holds: a write stays pending while the far end reads
// nothing, and can be cut short, as a driver timeout or a pulled adapter
// cuts a frame on a COM port.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/serial_win32.h"

namespace kel {
namespace {

constexpr DWORD kPipeBuffer = 4096;
// More than the pipe holds: a write of this many bytes stays pending.
constexpr size_t kLargeWrite = 60000;

struct Pipe {
  Pipe() {
    static int count = 0;
    const std::string name = "\\\\.\\pipe\\kel-queue-" + std::to_string(GetCurrentProcessId()) +
                             "-" + std::to_string(++count);
    server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                              PIPE_TYPE_BYTE | PIPE_WAIT, 1, kPipeBuffer, kPipeBuffer, 0, nullptr);
    client = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  }
  ~Pipe() {
    if (server != INVALID_HANDLE_VALUE) CloseHandle(server);
  }
  bool ok() const { return server != INVALID_HANDLE_VALUE && client != INVALID_HANDLE_VALUE; }

  HANDLE server = INVALID_HANDLE_VALUE;
  HANDLE client = INVALID_HANDLE_VALUE;  ///< handed to the device, which closes it
};

// A device on the pipe's client end with one write queued that stays
// pending: the far end reads nothing.
struct Win32OverlappedQueue : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(pipe.ok());
    device = OverlappedHandleDevice(pipe.client);
    ASSERT_EQ(device->Write(frame.data(), frame.size()), static_cast<int>(frame.size()));
  }

  Pipe pipe;
  std::unique_ptr<SerialDevice> device;
  const std::vector<uint8_t> frame = std::vector<uint8_t>(kLargeWrite, 0x55);
};

// A write cut short after it was queued is reported by the next call that
// retires it, not dropped: the frame it carried never went out whole.
TEST_F(Win32OverlappedQueue, AQueuedWriteThatFailsIsReportedWhenRetired) {
  ASSERT_TRUE(CancelIoEx(pipe.client, nullptr));
  Sleep(100);
  const uint8_t next = 0x01;
  EXPECT_EQ(device->Write(&next, 1), -1);
  EXPECT_FALSE(device->LastFailure().systemText.empty());
}

// The way out does not wait for good on a write that never completes.
TEST_F(Win32OverlappedQueue, ClosingDoesNotWaitForAWriteThatNeverEnds) {
  auto closed = std::make_shared<std::promise<void>>();
  std::future<void> done = closed->get_future();
  // Left to itself if it hangs, so that the test ends with a failure.
  std::thread([closed, raw = device.release()] {
    delete raw;
    closed->set_value();
  }).detach();
  EXPECT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

// A read that overruns its bound is cancelled alone: a write queued on the
// same handle goes on.
TEST(Win32OverlappedRead, AnOverdueReadIsCancelledWithoutTheQueuedWrites) {
  Pipe pipe;
  ASSERT_TRUE(pipe.ok());
  const std::vector<uint8_t> frame(kLargeWrite, 0x55);
  OVERLAPPED write{};
  write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD count = 0;
  ASSERT_FALSE(
      WriteFile(pipe.client, frame.data(), static_cast<DWORD>(frame.size()), &count, &write));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  OVERLAPPED read{};
  read.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  uint8_t buffer[16];
  ASSERT_FALSE(ReadFile(pipe.client, buffer, sizeof buffer, &count, &read));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));

  DWORD error = 0;
  EXPECT_EQ(FinishPendingRead(pipe.client, read, 100, error), 0);
  EXPECT_EQ(WaitForSingleObject(write.hEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  CancelIoEx(pipe.client, &write);
  GetOverlappedResult(pipe.client, &write, &count, TRUE);
  CloseHandle(write.hEvent);
  CloseHandle(read.hEvent);
  CloseHandle(pipe.client);
}

}  // namespace
}  // namespace kel
