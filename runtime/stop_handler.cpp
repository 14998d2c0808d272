#include "runtime/stop_handler.h"

namespace kel {

namespace {

constexpr char kStoppedText[] = "\r\n-- stopped\r\n";
constexpr char kStoppedReason[] = "stopped";

// Reached from the exit-time hook, which takes no arguments.
StopHandler* processStopHandler = nullptr;

}  // namespace

void StopHandler::Run() {
  if (armed_) {
    armed_ = false;
    rt_.PrintSummary(true);
    rt_.out.Print(Sink::kInfo, kStoppedText);
    // A unit whose update the stop cut short is recorded as failed, as on a
    // fatal error.
    if (rt_.onFatalError) {
      const auto hook = std::move(rt_.onFatalError);
      rt_.onFatalError = nullptr;
      hook(kStoppedReason);
    }
    rt_.RestoreLink();
    if (rt_.closePort) rt_.closePort();
    rt_.out.CloseLog();
    // A production script reads why the run ended from the parameter
    // file; a way out that stored its own reason keeps it.
    if (!rt_.messageStored) rt_.StoreMessage(kStoppedReason);
  }
  rt_.out.FinishConsole();
}

void SetProcessStopHandler(StopHandler* handler) { processStopHandler = handler; }

void RunProcessStopHandler() {
  if (processStopHandler != nullptr) processStopHandler->Run();
}

}  // namespace kel
