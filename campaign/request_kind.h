#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kel {

/// "45 1042", "47 32", ...: the service and command of a request frame as
/// it went to the units (a length header and a test jig's proxy header
/// skipped): for the command service its 16-bit command, for the others the
/// byte after the service. "?" for no frame.
inline std::string RequestKind(const std::vector<uint8_t>& frame) {
  size_t at = frame.size() >= 2 && frame[0] == 0xF1 ? 2 : 0;
  if (frame.size() > at + 5 && frame[at + 1] == 'G' && frame[at + 2] == '>') at += 5;
  char kind[16] = "?";
  if (frame.size() >= at + 4 && frame[at + 1] == 0x45) {
    std::snprintf(kind, sizeof kind, "45 %02X%02X", frame[at + 2], frame[at + 3]);
  } else if (frame.size() >= at + 3) {
    std::snprintf(kind, sizeof kind, "%02X %02X", frame[at + 1], frame[at + 2]);
  }
  return kind;
}

}  // namespace kel
