#include <windows.h>

#include "platform/environment.h"

namespace kel {

std::string SystemHostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

std::string SystemLoginName() {
  char name[257] = {};
  DWORD size = sizeof name;
  // The size returned counts the terminating zero.
  return GetUserNameA(name, &size) && size > 0 ? std::string(name, size - 1) : std::string();
}

}  // namespace kel
