#pragma once

#include <string>

namespace kel {

/// The last system error code of the calling thread (GetLastError / errno).
unsigned long LastSystemError();
/// The system's text for an error code, without a trailing line break.
std::string SystemErrorText(unsigned long code);
/// The C library's description of errno, for the "last error text".
std::string LastCErrorText();

/// Sends one line to the debugger output channel (OutputDebugStringA on
/// Windows; nothing on POSIX).
void DebuggerOutput(const std::string& line);

}  // namespace kel
