#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/console.h"
#include "platform/signals.h"

namespace kel {
namespace {

// How keys arrive: typed at a console, or read as bytes from redirected input.
enum class InputKind { kConsole, kPipe, kOther };

class Win32Console : public Console {
 public:
  Win32Console() {
    input_ = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input_ == nullptr || input_ == INVALID_HANDLE_VALUE) {
      ended_ = true;  // no input at all: no key can ever come
    } else if (GetConsoleMode(input_, &mode)) {
      kind_ = InputKind::kConsole;
    } else if (GetFileType(input_) == FILE_TYPE_PIPE) {
      kind_ = InputKind::kPipe;
    }
    stdoutIsConsole_ = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    // The program's texts are UTF-8 (its manifest makes that the process
    // code page, so paths and arguments are too): the console shows them
    // so while the run lasts and gets its own code page back at the end.
    if (stdoutIsConsole_) {
      savedOutputCodePage_ = GetConsoleOutputCP();
      if (savedOutputCodePage_ == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) savedOutputCodePage_ = 0;
    }
    // The program writes its own "\r\n" line ends; a text-mode stream
    // would add another "\r" to each, and scripts reading the output
    // through a pipe or file must get exactly the bytes written.
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
  }

  ~Win32Console() override {
    std::fflush(stdout);
    if (savedOutputCodePage_ != 0) SetConsoleOutputCP(savedOutputCodePage_);
  }

  void PutChar(char c) override {
    std::fputc(static_cast<unsigned char>(c), stdout);
    if (stdoutIsConsole_ || c == '\n') std::fflush(stdout);
  }

  int ReadKey() override {
    std::fflush(stdout);
    int key = NextKey(true);
    if (key >= 0) PutChar(static_cast<char>(key == '\n' ? '\r' : key));
    return key;
  }

  bool KeyWaiting() override {
    std::fflush(stdout);
    int key = NextKey(false);
    if (key < 0) return false;
    hasLookahead_ = true;
    return true;
  }

 private:
  // The next key, or -1 when none is waiting (`wait` false) or input ended.
  // A stop signal ends the process from here.
  int NextKey(bool wait) {
    if (hasLookahead_) {
      hasLookahead_ = false;
      return lookahead_;
    }
    if (ended_) return -1;
    for (;;) {
      ExitIfStopRequested();
      int key = TryKey();
      if (key >= 0 || ended_ || !wait) return Keep(key);
      // Nothing yet: sleep until input or a stop arrives (short slices, as
      // a console handle also signals for mouse and focus events).
      HANDLE handles[2] = {input_, static_cast<HANDLE>(StopSignalEvent())};
      DWORD count = handles[1] != nullptr ? 2 : 1;
      if (kind_ == InputKind::kConsole) {
        WaitForMultipleObjects(count, handles, FALSE, 50);
      } else if (handles[1] != nullptr) {
        WaitForSingleObject(handles[1], 10);
      } else {
        SleepEx(10, FALSE);
      }
    }
  }

  int Keep(int key) {
    if (key >= 0) lookahead_ = key;
    return key;
  }

  // One attempt without blocking.
  int TryKey() {
    if (kind_ == InputKind::kConsole) {
      return _kbhit() ? _getch() : -1;
    }
    if (kind_ == InputKind::kPipe) {
      DWORD available = 0;
      if (!PeekNamedPipe(input_, nullptr, 0, nullptr, &available, nullptr)) {
        ended_ = true;  // the writer has gone: end of input
        return -1;
      }
      if (available == 0) return -1;
    }
    // A file or device: a read returns at once, 0 bytes at its end.
    unsigned char byte = 0;
    DWORD got = 0;
    if (!ReadFile(input_, &byte, 1, &got, nullptr) || got == 0) {
      ended_ = true;
      return -1;
    }
    return byte;
  }

  HANDLE input_ = nullptr;
  InputKind kind_ = InputKind::kOther;
  bool stdoutIsConsole_ = false;
  UINT savedOutputCodePage_ = 0;  // 0: nothing to give back
  bool ended_ = false;
  bool hasLookahead_ = false;
  int lookahead_ = 0;
};

}  // namespace

Console& SystemConsole() {
  static Win32Console console;
  return console;
}

}  // namespace kel
