#pragma once

#include "runtime/output.h"

namespace kel {

/// Lowers errorReportLevel by one for a transfer, so that the retries the
/// transfer handles itself do not fill the console, and raises it again
/// exactly once: at Restore, or when the transfer is left by any other way
/// (an early return, a fatal error observed by a test).
class LoweredReportLevel {
 public:
  explicit LoweredReportLevel(Output& out) : out_(out) { --out_.errorReportLevel; }
  ~LoweredReportLevel() { Restore(); }
  LoweredReportLevel(const LoweredReportLevel&) = delete;
  LoweredReportLevel& operator=(const LoweredReportLevel&) = delete;

  void Restore() {
    if (lowered_) ++out_.errorReportLevel;
    lowered_ = false;
  }

 private:
  Output& out_;
  bool lowered_ = true;
};

}  // namespace kel
