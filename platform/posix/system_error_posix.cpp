#include <cerrno>
#include <cstring>

#include "platform/system_error.h"

namespace kel {

unsigned long LastSystemError() { return static_cast<unsigned long>(errno); }

std::string SystemErrorText(unsigned long code) {
  char buffer[256] = {};
  // GNU strerror_r may return a static text instead of filling the buffer.
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof(buffer));
  return text != nullptr ? std::string(text) : std::string(buffer);
}

std::string LastSystemErrorText() { return SystemErrorText(LastSystemError()); }

std::string LastCErrorText() { return SystemErrorText(static_cast<unsigned long>(errno)); }

void DebuggerOutput(const std::string&) {}

}  // namespace kel
