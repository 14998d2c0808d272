#pragma once

#include <string>

#include "runtime/output.h"

namespace kel {

/// While it lives, stop signals (Ctrl-C, a closed terminal, SIGTERM) are
/// only noted: work that must not be cut short goes on (a boot loader half
/// written would never start again), and a stop that came meanwhile ends
/// the run when Release is called, through the usual way out. Not nested
/// with another one.
class HeldStops {
 public:
  /// `notice` is printed once a stop has come, when Check sees it.
  HeldStops(Output& out, std::string notice);
  /// Lets stops act again without acting on one that came (the run is
  /// ending some other way).
  ~HeldStops();
  HeldStops(const HeldStops&) = delete;
  HeldStops& operator=(const HeldStops&) = delete;

  /// Prints the notice on the info sink, once, when a stop has come. Called
  /// as the held work goes on, so the operator learns at once that the stop
  /// was heard.
  void Check();
  /// Lets stops act again; one that came meanwhile ends the run now.
  void Release();

 private:
  Output& out_;
  std::string notice_;
  bool held_ = true;
  bool told_ = false;
};

}  // namespace kel
