#include "runtime/runtime.h"

#include <cstdlib>
#include <utility>

#include "platform/signals.h"
#include "runtime/parameter_file.h"

namespace kel {

namespace {

constexpr char kFatalErrorLead[] = "Fatal Error: ";
constexpr char kSystemErrorLead[] = "Fatal error: ";
constexpr char kPressEnterText[] = "Press Enter key to continue";
constexpr char kYesNoSuffix[] = " (y/n)";
constexpr char kAssertLead[] = "\r\nAssert Failed:";

// The exit codes scripts read: a fatal error whose message went into the
// parameter file, and every other failure.
constexpr int kExitFailure = 1;
constexpr int kExitFailureStored = 2;

// ProcessExit::Exit never returns; the compiler cannot see that through the
// virtual call, so the unreachable fall-through is made explicit.
[[noreturn]] void EndProcess(ProcessExit& exit, int code) {
  exit.Exit(code);
  std::abort();
}

}  // namespace

void Runtime::RestoreLink() {
  if (!restoreLink) return;
  const std::function<void()> restore = std::move(restoreLink);
  restoreLink = nullptr;
  // A stop that comes now waits: the put-back is short and bounded, and
  // the way out under way keeps its own message and exit code. Stops held
  // already (a boot loader being written) stay held. A way out taken
  // during the put-back unwinds through here and lets go of both.
  struct Restoring {
    bool& flag;
    bool held;
    explicit Restoring(bool& f) : flag(f), held(StopsHeld()) {
      flag = true;
      HoldStops(true);
    }
    ~Restoring() {
      HoldStops(held);
      flag = false;
    }
  } restoring(restoringLink);
  restore();
}

void Runtime::PrintSummary(bool fatal) {
  if (!summaryLines) return;
  const auto lines = std::move(summaryLines);
  summaryLines = nullptr;
  const std::vector<SummaryLine> units = lines(fatal);
  if (units.empty()) return;
  out.StartConsoleLine();
  out.Print(Sink::kInfo, kSummaryHeading);
  for (const SummaryLine& unit : units) out.Print(Sink::kInfo, FormatSummaryLine(unit), "\r\n");
}

void Runtime::PrintLastLine(const std::string& line) {
  PrintSummary(false);
  out.Print(Sink::kInfo, line);
}

void Runtime::FatalError(const std::string& message) {
  if (restoringLink) {
    // The put-back on the way out could not go on; the way out already
    // under way has said what ended the run, so this is only traced.
    out.Print(Sink::kDebug, "-- ", message, "\r\n");
    if (closePort) closePort();
    out.CloseLog();
    EndProcess(exit, options.parameterFile.empty() ? kExitFailure : kExitFailureStored);
  }
  // A stop that comes from here to the last key wait is only noted: the
  // clean-ups (a unit restarted, its speed put back, Message written) are
  // not cut short, and the run keeps this end's message and exit code.
  // Stops held already (a boot loader being written) stay held; a way out
  // taken inside (a parameter file that cannot be written) lets go.
  struct Held {
    const bool before = StopsHeld();
    Held() { HoldStops(true); }
    ~Held() { HoldStops(before); }
  } held;
  PrintSummary(true);
  // Never on the end of a row of progress dots.
  out.StartConsoleLine();
  out.Print(Sink::kInfo, kFatalErrorLead, message, "\r\n");
  if (onFatalError) {
    // Taken out first: a hook is told once, even if it fails itself.
    const auto hook = std::move(onFatalError);
    onFatalError = nullptr;
    hook(message);
  }
  RestoreLink();
  if (closePort) closePort();
  out.CloseLog();
  StoreMessage(message);
  // An operator who stopped the run meanwhile has already answered the
  // last key wait.
  if (!StopWaiting()) {
    HoldStops(held.before);
    PressEnter();
  }
  EndProcess(exit, options.parameterFile.empty() ? kExitFailure : kExitFailureStored);
}

void Runtime::EndUnfinished(int code, const std::string& reason) {
  if (endExitCode != 0) return;
  endExitCode = code;
  endReason = reason;
}

void Runtime::StoreMessage(const std::string& text) {
  if (options.parameterFile.empty()) return;
  // Some messages carry their own line end; the stored text is one line
  // without it, which is what production scripts compare.
  std::string stored = text;
  while (!stored.empty() && (stored.back() == '\n' || stored.back() == '\r')) stored.pop_back();
  // Noted first: a file that cannot be written ends the run from inside,
  // and that way out must not try again.
  messageStored = true;
  WriteParam(*this, options.parameterFile, kParamMessage, stored);
}

void Runtime::PressEnter() {
  if (options.yesToPrompts || options.manufacturingMode) return;
  out.Print(Sink::kConsole, kPressEnterText);
  // At the end of input (-1) there is nobody to wait for: go on at once.
  out.ReadPromptKey();
  out.Print(Sink::kConsole, "\r\n");
}

bool Runtime::AskYesNo(const std::string& question) {
  if (options.yesToPrompts) return true;
  out.Print(Sink::kConsole, question, kYesNoSuffix);
  int key = out.ReadPromptKey();
  out.Print(Sink::kConsole, "\r\n");
  return key == 'Y' || key == 'y';
}

void Runtime::AssertFailed(const char* source, int line) {
  out.Print(Sink::kConsole, kAssertLead, source == nullptr ? "" : source, ":", line, "\r\n");
  out.ReadPromptKey();
  EndProcess(exit, kExitFailure);
}

void Runtime::FatalSystemError(const std::string& systemText) {
  out.Print(Sink::kConsole, kSystemErrorLead, systemText, "\r\n");
  EndProcess(exit, kExitFailure);
}

}  // namespace kel
