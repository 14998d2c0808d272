#include "runtime/output.h"

#include <algorithm>

#include "platform/files.h"
#include "platform/system_error.h"
#include "runtime/text_format.h"

namespace kel {

namespace {

// Every log line after the first starts with the milliseconds since the log
// was opened, at least this many digits.
constexpr int kStampDigits = 6;
constexpr char kLogWriteFailed[] = "Cannot write to log file ";

}  // namespace

Output::Output(Console& console, Clock& clock, const Options& options)
    : console_(console), clock_(clock), options_(options) {}

Output::~Output() {
  if (logFile_ != nullptr) std::fclose(logFile_);
}

bool Output::ToConsole(Sink sink) const {
  switch (sink) {
    case Sink::kConsole:
    case Sink::kInfo:
      return true;
    case Sink::kDebug:
      return options_.debug;
    case Sink::kDetail:
      return options_.detailedDebug;
    case Sink::kQuiet:
      return !options_.silent;
  }
  return true;
}

void Output::Put(Sink sink, char c) {
  if (ToConsole(sink)) ConsolePut(c);
  if (sink != Sink::kConsole) LogPut(c);
}

void Output::Write(Sink sink, std::string_view text) {
  if (ToConsole(sink)) {
    size_t i = 0;
    while (i < text.size()) {
      const char c = text[i++];
      ConsolePut(c);
      if (c == '\r' || c == '\n') continue;
      // After a visible character no break is pending: the visible ones
      // that follow it go to the console as they are, in one piece.
      const size_t end = std::min(text.find_first_of("\r\n", i), text.size());
      console_.PutText(text.substr(i, end - i));
      i = end;
    }
  }
  if (sink != Sink::kConsole && logFile_ != nullptr) {
    for (char c : text) LogPut(c);
  }
}

// Line breaks are held back until the next visible character, so a message's
// closing "\r\n" never leaves a stray blank line before a prompt or a
// progress dot. Any lone CR or LF counts as one break; "\r\n\r\n" gives one
// empty line.
void Output::ConsolePut(char c) {
  if (c == '\n') {
    if (pendingLf_) {
      pendingCr_ = false;
      PutLineBreak();
    } else {
      pendingLf_ = true;
    }
    return;
  }
  if (c == '\r') {
    if (pendingCr_) {
      pendingLf_ = false;
      PutLineBreak();
      return;
    }
    pendingCr_ = true;
    // After an answered prompt the echoed key stands on the line; end that
    // line at once.
    if (promptAnswered_) {
      pendingLf_ = false;
      PutLineBreak();
    }
    return;
  }
  if (promptAnswered_) {
    pendingCr_ = pendingLf_ = promptAnswered_ = false;
  } else if (pendingCr_ || pendingLf_) {
    pendingCr_ = pendingLf_ = false;
    PutLineBreak();
  }
  console_.PutChar(c);
  atLineStart_ = false;
}

void Output::PutLineBreak() {
  console_.PutChar('\r');
  console_.PutChar('\n');
  atLineStart_ = true;
}

void Output::StartConsoleLine() {
  // A pending break or an answered prompt ends the line already.
  if (atLineStart_ || pendingCr_ || pendingLf_ || promptAnswered_) return;
  pendingCr_ = true;
}

void Output::SettlePrompt() {
  if (!promptAnswered_ && (pendingCr_ || pendingLf_)) {
    PutLineBreak();
    pendingCr_ = pendingLf_ = false;
  }
  promptAnswered_ = true;
}

int Output::ReadPromptKey() {
  SettlePrompt();
  return console_.ReadKey();
}

void Output::FinishConsole() {
  // After an answered prompt the line was ended already.
  if (!promptAnswered_ && (pendingCr_ || pendingLf_)) PutLineBreak();
  pendingCr_ = pendingLf_ = promptAnswered_ = false;
}

// Line feeds are dropped and every carriage return becomes "\r\n" plus the
// stamp of the next line, so each line is stamped exactly once whatever
// line endings the messages used.
void Output::LogPut(char c) {
  if (logFile_ == nullptr || logFailed_ || c == '\n') return;
  bool written = std::fputc(c, logFile_) != EOF;
  if (c == '\r') {
    uint32_t elapsed = clock_.Ticks() - logStartTicks_;
    const std::string digits = ZeroPadded(elapsed, kStampDigits);
    written = written && std::fputc('\n', logFile_) != EOF;
    written = written && std::fwrite(digits.data(), 1, digits.size(), logFile_) == digits.size();
    written = written && std::fputs(": ", logFile_) != EOF;
  }
  CheckLogWrite(written);
}

// The unit matters more than its log: a log that fails (a full disk) is
// said once, with the system's words, and the run goes on without it.
void Output::CheckLogWrite(bool written) {
  if (written || logFailed_) return;
  const std::string why = LastCErrorText();
  logFailed_ = true;
  for (char c : kLogWriteFailed + logPath_ + ": " + why + "\r\n") ConsolePut(c);
}

void Output::ErrorHook(std::string_view line) {
  if (chipProbeCounter <= 0) return;
  if (options_.debug) {
    for (char c : line) ConsolePut(c);
    ConsolePut('\r');
    ConsolePut('\n');
  }
  for (char c : line) LogPut(c);
  LogPut('\r');
  LogPut('\n');
}

bool Output::OpenLogFile(const std::string& path, bool& nameTaken, std::string& error) {
  if (logFile_ != nullptr) std::fclose(logFile_);
  logFile_ = CreateNewFileForWriting(path, nameTaken, error);
  if (logFile_ == nullptr) return false;
  logPath_ = path;
  logFailed_ = false;
  logStartTicks_ = clock_.Ticks();
  return true;
}

void Output::CloseLog() {
  if (logFile_ == nullptr) return;
  LogPut('\r');
  LogPut('\n');
  // Buffered lines reach the disk only now; their failure counts too.
  CheckLogWrite(std::fclose(logFile_) == 0);
  logFile_ = nullptr;
}

void Output::WriteLogRaw(std::string_view text) {
  if (logFile_ == nullptr || logFailed_) return;
  CheckLogWrite(std::fwrite(text.data(), 1, text.size(), logFile_) == text.size());
}

void Output::WriteLog(std::string_view text) {
  for (char c : text) LogPut(c);
}

}  // namespace kel
