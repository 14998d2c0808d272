#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/clock.h"
#include "platform/console.h"
#include "runtime/options.h"

namespace kel {

/// Where a message goes. Each sink decides from the options whether a
/// character reaches the console; all but Console also go to the log.
enum class Sink {
  kConsole,  ///< console only: banner, usage, prompts, progress dots
  kInfo,     ///< console and log: results, warnings, fatal errors
  kDebug,    ///< log; console under -d
  kDetail,   ///< log; console under -dd (serial and packet traces)
  kQuiet,    ///< log; console unless -s (the unit information report)
};

/// The program's text output: the five sinks, the console writer that holds
/// line breaks back, the stamped log writer, the error hook and the
/// errorReportLevel gate. One instance, owned by main.
class Output {
 public:
  Output(Console& console, Clock& clock, const Options& options);
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  /// Writes one character to a sink.
  void Put(Sink sink, char c);
  /// Writes a text to a sink character by character.
  void Write(Sink sink, std::string_view text);
  /// Writes every argument in order: strings as they are, integers in decimal.
  template <typename... Args>
  void Print(Sink sink, const Args&... args) {
    // Debug lines are most of what is printed; without -d and a log they
    // go nowhere, and formatting them would be wasted.
    if (!Reaches(sink)) return;
    (WriteOne(sink, args), ...);
  }
  /// True when text written to the sink reaches the console or the log.
  bool Reaches(Sink sink) const {
    return ToConsole(sink) || (sink != Sink::kConsole && logFile_ != nullptr && !logFailed_);
  }

  /// The prompt rule: settles a pending line break before a key is read.
  void SettlePrompt();
  /// Reads one key for a prompt (settling first); -1 when input has ended.
  int ReadPromptKey();
  /// Outputs a held-back line break, if any, so that the process's last
  /// line is ended when it exits.
  void FinishConsole();
  /// Makes the next console text start a line of its own when the current
  /// line holds text that no line break has ended yet (progress dots).
  void StartConsoleLine();

  /// The error hook: low-level failures and transfer records. Shown only
  /// while chipProbeCounter is above 0 (console under -d, always the log).
  void ErrorHook(std::string_view line);

  /// Log lifecycle. OpenLogFile creates `path`, which must not exist yet:
  /// whatever stands there is never replaced. False when it cannot be
  /// created, with `nameTaken` set when the name is in use and the system's
  /// text in `error`. CloseLog writes "\r\n" through the log writer first.
  /// A log that cannot be written (a full disk) is said once on the console
  /// with the system's words; the run goes on without it.
  bool OpenLogFile(const std::string& path, bool& nameTaken, std::string& error);
  void CloseLog();
  bool logOpen() const { return logFile_ != nullptr; }
  /// Writes straight to the log file, bypassing stamps (the log header).
  void WriteLogRaw(std::string_view text);
  /// Writes through the log writer only (stamped lines, no console).
  void WriteLog(std::string_view text);

  /// Gates the link layers' traces and error lines (above 0 = shown).
  int8_t errorReportLevel = 0;
  /// Raised around the LPC chip check; the error hook acts only while > 0.
  int chipProbeCounter = 0;
  /// The C library's description of the last file-system failure (a folder
  /// not created, a file not deleted). Only stored, for later reports.
  std::string lastErrorText;

  Console& console() { return console_; }
  Clock& clock() { return clock_; }
  const Options& options() const { return options_; }

 private:
  void WriteOne(Sink sink, std::string_view text) { Write(sink, text); }
  void WriteOne(Sink sink, const char* text) { Write(sink, text); }
  void WriteOne(Sink sink, const std::string& text) { Write(sink, text); }
  void WriteOne(Sink sink, char c) { Put(sink, c); }
  template <typename T, typename = std::enable_if_t<std::is_integral_v<T>>>
  void WriteOne(Sink sink, T value) {
    Write(sink, std::to_string(static_cast<std::conditional_t<std::is_signed_v<T>, long long,
                                                               unsigned long long>>(value)));
  }

  void ConsolePut(char c);
  void PutLineBreak();
  void LogPut(char c);
  /// Checks the result of a write to the log; on the first failure tells
  /// the operator and stops writing the log.
  void CheckLogWrite(bool written);
  bool ToConsole(Sink sink) const;

  Console& console_;
  Clock& clock_;
  const Options& options_;
  bool pendingCr_ = false;
  bool pendingLf_ = false;
  bool promptAnswered_ = false;
  // Nothing stands on the console's current line yet.
  bool atLineStart_ = true;
  std::FILE* logFile_ = nullptr;
  std::string logPath_;
  bool logFailed_ = false;
  uint32_t logStartTicks_ = 0;
};

}  // namespace kel
