#pragma once

#include <cstdint>
#include <functional>

namespace kel {

class Output;

/// The row of dots drawn on the console while a transfer runs: 60 dots for
/// the whole. Both counts are 0 between transfers.
class ProgressDisplay {
 public:
  static constexpr uint32_t kDots = 60;

  /// Starts a transfer of `total` bytes (0: no dots are drawn).
  void Start(uint32_t total);
  /// Counts `bytes` more as done and prints the dots now due.
  void Advance(Output& out, uint64_t bytes);
  /// Back to the state between transfers.
  void Reset() { Start(0); }

  uint32_t total() const { return total_; }
  uint32_t dotsPrinted() const { return dots_; }

  /// Called at every Advance while set: work that watches a long transfer
  /// (held stops) looks in as it goes.
  std::function<void()> onAdvance;

 private:
  uint32_t total_ = 0;
  uint64_t done_ = 0;
  uint32_t dots_ = 0;
};

}  // namespace kel
