#pragma once

#include <string>
#include <string_view>

namespace kel {

/// The operator's terminal: characters out, single key presses in.
class Console {
 public:
  virtual ~Console() = default;
  /// Writes one character to the screen.
  virtual void PutChar(char c) = 0;
  /// Writes `text` to the screen, as PutChar would one character at a time.
  virtual void PutText(std::string_view text) {
    for (char c : text) PutChar(c);
  }
  /// Waits for one key press and echoes it; does not wait for Enter.
  /// Returns the key, or -1 when no more keys can come (input closed).
  virtual int ReadKey() = 0;
  /// True when a key press is waiting to be read.
  virtual bool KeyWaiting() = 0;
};

/// The process's own console (stdin/stdout on POSIX, the Win32 console).
Console& SystemConsole();

/// A console for tests: records what was written, answers with scripted keys.
class ScriptedConsole : public Console {
 public:
  explicit ScriptedConsole(std::string keys = {}) : keys_(std::move(keys)) {}
  void PutChar(char c) override { output_ += c; }
  void PutText(std::string_view text) override { output_ += text; }
  int ReadKey() override {
    if (next_ >= keys_.size()) return -1;
    char c = keys_[next_++];
    output_ += c;  // echo, as the real console does
    return static_cast<unsigned char>(c);
  }
  bool KeyWaiting() override { return next_ < keys_.size(); }

  const std::string& output() const { return output_; }
  void ClearOutput() { output_.clear(); }
  void AddKeys(const std::string& keys) { keys_ += keys; }

 private:
  std::string keys_;
  size_t next_ = 0;
  std::string output_;
};

}  // namespace kel
