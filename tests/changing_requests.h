#pragma once

// What a dry run may send: the requests in a transcript that would change
// a unit.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "campaign/request_kind.h"

namespace kel {

/// The kinds (RequestKind) of `frames` that are not reads: anything but a
/// ping, the identity and information calls, the unit list, the USB port,
/// buffer size and programmer version questions, and file attributes.
/// Writes, erases, restarts, speed changes, proxy calls and file opens all
/// show.
inline std::vector<std::string> ChangingRequests(const std::vector<std::vector<uint8_t>>& frames) {
  static const std::set<std::string> kReads = {"45 1010", "45 1012", "45 1013", "45 1014",
                                               "45 1015", "45 1016", "45 1017", "45 101B",
                                               "45 101C", "45 101F", "45 1091", "45 102F",
                                               "45 1031"};
  std::vector<std::string> changing;
  for (const std::vector<uint8_t>& frame : frames) {
    const std::string kind = RequestKind(frame);
    const bool ping = kind.rfind("41 ", 0) == 0;
    if (!ping && kReads.count(kind) == 0) changing.push_back(kind);
  }
  return changing;
}

}  // namespace kel
