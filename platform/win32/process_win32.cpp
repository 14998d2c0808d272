#include <windows.h>

#include "platform/command_line.h"
#include "platform/process.h"
#include "platform/signals.h"

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

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args) {
  // The program is named separately, so no search path and no shell are
  // involved; the command line only carries the quoted arguments. Handles
  // are inherited so the child writes where this program's output goes.
  std::string commandLine = BuildWindowsCommandLine(program, args);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child = {};
  // The child goes into a job that ends it when this process ends, however
  // that happens (the console closed, the process killed); it is started
  // suspended so that it cannot start others before it is in the job.
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job != nullptr) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                      nullptr, nullptr, &startup, &child)) {
    if (job != nullptr) CloseHandle(job);
    return {ProcessEnd::kNotStarted, 0};
  }
  // Without the job (an older system that does not nest jobs) the stop
  // below still ends the child.
  if (job != nullptr) AssignProcessToJobObject(job, child.hProcess);
  ResumeThread(child.hThread);
  CloseHandle(child.hThread);

  HANDLE stop = static_cast<HANDLE>(StopSignalEvent());
  HANDLE waits[2] = {child.hProcess, stop};
  const DWORD count = stop != nullptr ? 2 : 1;
  bool stopped = WaitForMultipleObjects(count, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
  if (stopped) {
    // The child shares the console and has had the same Ctrl-C or close
    // event; a hung one that does not end by itself is ended here.
    if (WaitForSingleObject(child.hProcess, kChildStopGraceMs) != WAIT_OBJECT_0) {
      TerminateProcess(child.hProcess, 1);
      WaitForSingleObject(child.hProcess, INFINITE);
    }
  }
  stopped = stopped || StopRequested();
  DWORD code = 0;
  BOOL known = GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hProcess);
  if (job != nullptr) CloseHandle(job);
  if (stopped) return {ProcessEnd::kStopped, 0};
  // The child's 32-bit code as the signed number it exited with (-1 is
  // 0xFFFFFFFF); how it ended is told apart from it, not by its value.
  if (!known) return {ProcessEnd::kNotStarted, 0};
  return {ProcessEnd::kExited, static_cast<int>(code)};
}

unsigned long CurrentThreadId() { return GetCurrentThreadId(); }

}  // namespace kel
