#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/process.h"

extern char** environ;

namespace kel {

std::string ExecutablePath() {
  std::string buffer(4096, '\0');
  ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return {};
  buffer.resize(static_cast<size_t>(length));
  return buffer;
}

int RunProcess(const std::string& program, const std::vector<std::string>& args) {
  // The arguments go to the program exactly as given: no shell, no splitting.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t child = 0;
  // glibc's posix_spawn reports a failed exec (missing file, no permission)
  // as its own result, so "could not be started" is told apart from the
  // program's exit codes.
  if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    return -1;
  }
  int status = 0;
  // A stop signal interrupts the wait but the child (which shares the
  // terminal's signals) is still waited for, so it never runs on orphaned.
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  // Killed by a signal: reported as a failure, the way shells number it.
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

unsigned long CurrentThreadId() { return static_cast<unsigned long>(gettid()); }

}  // namespace kel
