#pragma once

#include <string>

namespace kel {

/// The last system error code of the calling thread (GetLastError / errno).
unsigned long LastSystemError();
/// The system's text for an error code, without a trailing line break.
std::string SystemErrorText(unsigned long code);
/// The system's text for the last error of a platform call of this program
/// that failed (a file, folder or port operation): from GetLastError on
/// Windows, errno on POSIX.
std::string LastSystemErrorText();
/// The C library's description of errno, for a failed C library call (a
/// write through a FILE stream).
std::string LastCErrorText();

/// Sends one line to the debugger output channel (OutputDebugStringA on
/// Windows; nothing on POSIX).
void DebuggerOutput(const std::string& line);

}  // namespace kel
