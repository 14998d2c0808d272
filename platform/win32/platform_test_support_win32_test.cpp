// Windows side of the test helpers in tests/platform_test_support.h.
#include <stdlib.h>
#include <windows.h>

#include "tests/platform_test_support.h"

namespace kel {

std::vector<std::string> OwnArguments() {
  // The C runtime's own split of the command line: what a child program
  // built with any Windows compiler would see.
  std::vector<std::string> args;
  for (int i = 0; i < __argc; ++i) args.push_back(__argv[i]);
  return args;
}

void SetProcessEnvironment(const char* name, const char* value) {
  // Both the C runtime's copy (getenv) and the process block (children).
  std::string entry = std::string(name) + "=" + (value != nullptr ? value : "");
  _putenv(entry.c_str());
  SetEnvironmentVariableA(name, value);
}

}  // namespace kel
