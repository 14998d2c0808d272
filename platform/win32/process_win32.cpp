#include <windows.h>

#include "platform/command_line.h"
#include "platform/process.h"

namespace kel {

std::string ExecutablePath() {
  // The path may be longer than MAX_PATH; grow until it fits.
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    if (buffer.size() > 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

int RunProcess(const std::string& program, const std::vector<std::string>& args) {
  // The program is named separately, so no search path and no shell are
  // involved; the command line only carries the quoted arguments. Handles
  // are inherited so the child writes where this program's output goes.
  std::string commandLine = BuildWindowsCommandLine(program, args);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child = {};
  if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &startup, &child)) {
    return -1;
  }
  CloseHandle(child.hThread);
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD code = 0;
  BOOL known = GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hProcess);
  return known ? static_cast<int>(code) : -1;
}

unsigned long CurrentThreadId() { return GetCurrentThreadId(); }

}  // namespace kel
