#include "platform/posix/local_names_posix.h"

#include <unistd.h>

#include <cstdio>

#include "platform/environment.h"

namespace kel {

std::string LocalAccountName(const char* file, unsigned long id) {
  std::FILE* stream = std::fopen(file, "re");
  if (stream == nullptr) return {};
  const std::string wanted = ":" + std::to_string(id);
  std::string name;
  char line[4096];
  while (name.empty() && std::fgets(line, sizeof line, stream) != nullptr) {
    const std::string entry(line);
    const std::size_t first = entry.find(':');
    const std::size_t second = first == std::string::npos ? first : entry.find(':', first + 1);
    if (second == std::string::npos || first == 0) continue;
    const std::size_t end = entry.find_first_of(":\n", second + 1);
    if (entry.compare(second, end - second, wanted) == 0) name = entry.substr(0, first);
  }
  std::fclose(stream);
  return name;
}

std::string SystemHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

// The login name as the session's variables give it, else the account of
// the user the program runs as.
std::string SystemLoginName() {
  for (const char* variable : {"LOGNAME", "USER"}) {
    const std::string value = SystemEnvironment().Get(variable);
    if (!value.empty()) return value;
  }
  const std::string name = LocalAccountName("/etc/passwd", geteuid());
  return name.empty() ? std::to_string(geteuid()) : name;
}

}  // namespace kel
