#include "sim/unit_inbox.h"

namespace kel::sim {

namespace {

// Requests remembered at most; far more than any window or buffer holds.
constexpr size_t kMaxEntries = 256;

}  // namespace

UnitInbox::Refusal UnitInbox::Check(uint64_t firstUs, uint64_t lastUs, size_t bytes,
                                    WindowKind kind, size_t capacity, size_t windowLimit) {
  while (!entries_.empty() && entries_.front().finishUs != kOpen &&
         entries_.front().finishUs <= firstUs) {
    entries_.pop_front();
  }
  size_t waiting = 0;
  size_t unanswered = 0;
  for (const Entry& e : entries_) {
    if (e.startUs > lastUs) waiting += e.bytes;
    if (kind != WindowKind::kNone && e.kind == kind && e.finishUs > firstUs) ++unanswered;
  }
  if (waiting + bytes > capacity) return Refusal::kBufferFull;
  if (kind != WindowKind::kNone && unanswered >= windowLimit) return Refusal::kWindowFull;
  return Refusal::kNone;
}

uint64_t UnitInbox::Add(uint64_t startUs, size_t bytes, WindowKind kind) {
  if (entries_.size() >= kMaxEntries) entries_.pop_front();
  entries_.push_back({nextId_, startUs, kOpen, bytes, kind});
  return nextId_++;
}

void UnitInbox::Finish(uint64_t id, uint64_t finishUs) {
  for (Entry& e : entries_) {
    if (e.id == id) e.finishUs = finishUs;
  }
}

void UnitInbox::FinishOlder(uint64_t id, WindowKind kind, uint64_t finishUs) {
  for (Entry& e : entries_) {
    if (e.id < id && e.kind == kind && e.finishUs > finishUs) e.finishUs = finishUs;
  }
}

}  // namespace kel::sim
