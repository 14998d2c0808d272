#include <cstdlib>

#include "platform/process_exit.h"
#include "platform/signals.h"

namespace kel {
namespace {

// The handler RegisterExitHandler named: run on every way out before the
// stack unwinds, and once more at process exit (it acts at most once).
void (*gExitHandler)() = nullptr;
bool gExitHandlerRunning = false;

}  // namespace

void RegisterExitHandler(void (*handler)()) {
  gExitHandler = handler;
  std::atexit(handler);
}

void RunExitHandlerBeforeExit() {
  if (gExitHandler == nullptr || gExitHandlerRunning) return;
  gExitHandlerRunning = true;
  try {
    gExitHandler();
  } catch (const ExitRequested&) {
    // The handler's own work could not go on; the end already under way
    // keeps its exit code.
  }
  gExitHandlerRunning = false;
}

void ThrowingExit::Exit(int code) {
  RunExitHandlerBeforeExit();
  throw ExitRequested{code};
}

ProcessExit& SystemExit() {
  static ThrowingExit exit;
  return exit;
}

}  // namespace kel
