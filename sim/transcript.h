#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace kel::sim {

/// One frame (or run of bytes) seen on a simulated line.
struct TranscriptEntry {
  enum class Direction : uint8_t {
    kToUnit,    ///< the program sent it and a unit understood it
    kFromUnit,  ///< a unit sent it
    kLost,      ///< bytes no unit could read (wrong speed, noise, unit silent)
  };
  uint32_t time = 0;  ///< tick of receipt, or of delivery for replies
  int32_t baudRate = 0;
  bool evenParity = false;
  Direction direction = Direction::kToUnit;
  std::vector<uint8_t> bytes;  ///< the frame as on the wire
  uint64_t request = 0;        ///< the port's number of the request it is or answers (0 none)
  std::string note;            ///< unit name, fault applied, ...
};

/// Every frame a simulated port saw, in order, for tests to assert on and
/// for the program to write out.
class Transcript {
 public:
  void Add(TranscriptEntry entry);
  const std::deque<TranscriptEntry>& entries() const { return entries_; }
  void Clear() { entries_.clear(); }
  /// Entries of one direction.
  std::vector<TranscriptEntry> Filter(TranscriptEntry::Direction direction) const;
  /// One line per entry: time, speed, direction, hex bytes, then the
  /// request number ("#12") and the note.
  static std::string Format(const TranscriptEntry& entry);
  /// Keeps at most this many entries (oldest dropped) so a long run stays small.
  void SetLimit(size_t limit) { limit_ = limit; }
  /// Called with every new entry (the program streams them to a file).
  void SetListener(void (*listener)(const TranscriptEntry&, void*), void* context) {
    listener_ = listener;
    context_ = context;
  }

 private:
  std::deque<TranscriptEntry> entries_;
  size_t limit_ = 200000;
  void (*listener_)(const TranscriptEntry&, void*) = nullptr;
  void* context_ = nullptr;
};

}  // namespace kel::sim
