#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/system_error.h"

namespace kel {

unsigned long LastSystemError() { return GetLastError(); }

std::string SystemErrorText(unsigned long code) {
  char buffer[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, code, 0, buffer, sizeof(buffer), nullptr);
  std::string text(buffer, length < sizeof(buffer) ? length : 0);
  // The system texts end with a line break the callers add themselves.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty()) text = "Unknown error " + std::to_string(code);
  return text;
}

std::string LastSystemErrorText() { return SystemErrorText(LastSystemError()); }

std::string LastCErrorText() { return std::strerror(errno); }

void DebuggerOutput(const std::string& line) { OutputDebugStringA(line.c_str()); }

}  // namespace kel
