#include "runtime/debugger_trace.h"

#include <mutex>

#include "platform/process.h"
#include "platform/system_error.h"
#include "runtime/text_format.h"

namespace kel {

uint32_t DebuggerTraceCounter::Advance(uint32_t ticks) {
  if (started_) {
    // Unsigned subtraction keeps the step right across a tick-count wrap.
    uint64_t next = static_cast<uint64_t>(counter_) + static_cast<uint32_t>(ticks - lastTicks_);
    counter_ = static_cast<uint32_t>(next % kWrap);
  }
  started_ = true;
  lastTicks_ = ticks;
  return counter_;
}

std::string FormatDebuggerTrace(uint32_t counter, unsigned long threadId, const std::string& text) {
  return ZeroPadded(counter % 1000000, 6) + " TID=" + std::to_string(threadId) + " " + text +
         "\r\n";
}

void DebuggerTrace(Clock& clock, const std::string& text) {
  static std::mutex lock;
  static DebuggerTraceCounter counter;
  uint32_t value;
  {
    std::lock_guard<std::mutex> guard(lock);
    value = counter.Advance(clock.Ticks());
  }
  DebuggerOutput(FormatDebuggerTrace(value, CurrentThreadId(), text));
}

}  // namespace kel
