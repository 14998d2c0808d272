#include "unit/progress_display.h"

#include <algorithm>

#include "runtime/output.h"

namespace kel {

void ProgressDisplay::Start(uint32_t total) {
  total_ = total;
  done_ = 0;
  dots_ = 0;
}

void ProgressDisplay::Advance(Output& out, uint64_t bytes) {
  done_ += bytes;
  if (onAdvance) onAdvance();
  if (total_ == 0) return;
  const uint64_t due = std::min<uint64_t>(done_, total_) * kDots / total_;
  for (; dots_ < due; ++dots_) out.Print(Sink::kConsole, ".");
}

}  // namespace kel
