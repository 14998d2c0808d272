#include "sim/transcript.h"

#include <cstdio>

namespace kel::sim {

void Transcript::Add(TranscriptEntry entry) {
  if (listener_) listener_(entry, context_);
  if (limit_ == 0) return;
  if (entries_.size() >= limit_) entries_.pop_front();
  entries_.push_back(std::move(entry));
}

std::vector<TranscriptEntry> Transcript::Filter(TranscriptEntry::Direction direction) const {
  std::vector<TranscriptEntry> out;
  for (const auto& e : entries_) {
    if (e.direction == direction) out.push_back(e);
  }
  return out;
}

std::string Transcript::Format(const TranscriptEntry& entry) {
  static const char* const kArrows[] = {"->", "<-", "xx"};
  char head[64];
  std::snprintf(head, sizeof head, "%10u %7d%s %s", entry.time, entry.baudRate,
                entry.evenParity ? "E" : "N", kArrows[static_cast<int>(entry.direction)]);
  std::string line = head;
  for (uint8_t b : entry.bytes) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", b);
    line += hex;
  }
  if (entry.request != 0 || !entry.note.empty()) line += "  ;";
  if (entry.request != 0) line += " #" + std::to_string(entry.request);
  if (!entry.note.empty()) line += " " + entry.note;
  return line;
}

}  // namespace kel::sim
