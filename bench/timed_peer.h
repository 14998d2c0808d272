// What the benchmarks share to tell the updater's processor time from the
// simulator's when both run in one thread.
#pragma once

#include <ctime>

#include "platform/memory_serial.h"

namespace kel::bench {

inline double ThreadCpuSeconds() {
#if defined(CLOCK_THREAD_CPUTIME_ID)
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
#else
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

// Counts the processor time the simulator spends answering in the
// program's own thread, so that the updater's can be told apart.
class TimedPeer : public MemorySerialPeer {
 public:
  explicit TimedPeer(MemorySerialPeer& inner) : inner_(inner) {}
  void OnHostBytes(const uint8_t* data, size_t length, const SerialConfig& line,
                   uint32_t now) override {
    Timed([&] { inner_.OnHostBytes(data, length, line, now); });
  }
  void OnHostBytesUs(const uint8_t* data, size_t length, const SerialConfig& line,
                     uint64_t nowUs) override {
    Timed([&] { inner_.OnHostBytesUs(data, length, line, nowUs); });
  }
  void OnTime(uint32_t now) override {
    Timed([&] { inner_.OnTime(now); });
  }
  void OnTimeUs(uint64_t nowUs) override {
    Timed([&] { inner_.OnTimeUs(nowUs); });
  }
  void OnOpen(bool open, const SerialConfig& line) override { inner_.OnOpen(open, line); }
  bool Cts() override { return inner_.Cts(); }
  bool NextEvent(uint32_t& tick) override { return inner_.NextEvent(tick); }
  bool NextEventUs(uint64_t nowUs, uint64_t& atUs) override {
    return inner_.NextEventUs(nowUs, atUs);
  }
  bool HostBytesLeaveAt(uint32_t& tick) override { return inner_.HostBytesLeaveAt(tick); }
  bool HostBytesLeaveAtUs(uint64_t nowUs, uint64_t& atUs) override {
    return inner_.HostBytesLeaveAtUs(nowUs, atUs);
  }

  double seconds = 0;

 private:
  template <typename Work>
  void Timed(Work work) {
    const double start = ThreadCpuSeconds();
    work();
    seconds += ThreadCpuSeconds() - start;
  }

  MemorySerialPeer& inner_;
};

}  // namespace kel::bench
