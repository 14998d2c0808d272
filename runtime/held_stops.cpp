#include "runtime/held_stops.h"

#include <utility>

#include "platform/signals.h"

namespace kel {

HeldStops::HeldStops(Output& out, std::string notice) : out_(out), notice_(std::move(notice)) {
  HoldStops(true);
}

HeldStops::~HeldStops() {
  if (held_) HoldStops(false);
}

void HeldStops::Check() {
  if (told_ || !StopWaiting()) return;
  told_ = true;
  out_.StartConsoleLine();
  out_.Print(Sink::kInfo, notice_);
}

void HeldStops::Release() {
  if (!held_) return;
  held_ = false;
  HoldStops(false);
  ExitIfStopRequested();
}

}  // namespace kel
