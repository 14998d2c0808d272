#pragma once

#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace kel {

/// The running millisecond counter that prefixes debugger trace lines. It
/// starts at 0 with the first trace, then advances by the tick difference
/// since the previous trace and wraps at kWrap.
class DebuggerTraceCounter {
 public:
  static constexpr uint32_t kWrap = 1843200000;
  /// Advances to `ticks` and returns the new counter value.
  uint32_t Advance(uint32_t ticks);

 private:
  bool started_ = false;
  uint32_t lastTicks_ = 0;
  uint32_t counter_ = 0;
};

/// The debugger line for `text`: the counter modulo 1000000 as six digits,
/// " TID=" + thread id + " ", the text, "\r\n".
std::string FormatDebuggerTrace(uint32_t counter, unsigned long threadId, const std::string& text);

/// Sends `text` to the debugger output channel with the counter prefix,
/// using one process-wide counter guarded by a lock.
void DebuggerTrace(Clock& clock, const std::string& text);

}  // namespace kel
