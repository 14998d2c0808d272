#include "runtime/stop_handler.h"

namespace kel {

namespace {

constexpr char kStoppedText[] = "\r\n-- stopped\r\n";

// Reached from the exit-time hook, which takes no arguments.
StopHandler* processStopHandler = nullptr;

}  // namespace

void StopHandler::Run() {
  if (armed_) {
    armed_ = false;
    rt_.out.Print(Sink::kInfo, kStoppedText);
    rt_.RestoreLink();
    if (rt_.closePort) rt_.closePort();
    rt_.out.CloseLog();
  }
  rt_.out.FinishConsole();
}

void SetProcessStopHandler(StopHandler* handler) { processStopHandler = handler; }

void RunProcessStopHandler() {
  if (processStopHandler != nullptr) processStopHandler->Run();
}

}  // namespace kel
