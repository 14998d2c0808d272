#include <windows.h>

#include "platform/registry.h"

namespace kel {
namespace {

// Splits "SOFTWARE\Arkwend\Ponderix\CommPort" into key and value name.
bool Split(const std::string& fullPath, std::string& key, std::string& name) {
  size_t last = fullPath.rfind('\\');
  if (last == std::string::npos) return false;
  key = fullPath.substr(0, last);
  name = fullPath.substr(last + 1);
  return true;
}

class Win32Registry : public Registry {
 public:
  std::string ReadString(const std::string& fullPath) override {
    std::string key, name;
    if (!Split(fullPath, key, name)) return {};
    HKEY handle;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
      return {};
    }
    // 257 bytes as the value is read, plus one zero that always stays, so
    // a value stored without its terminator still reads as a bounded string.
    char buffer[258] = {};
    DWORD type = 0;
    DWORD size = sizeof(buffer) - 1;
    LONG result = RegQueryValueExA(handle, name.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS || type != REG_SZ) return {};
    return std::string(buffer);
  }

  void WriteString(const std::string& fullPath, const std::string& value) override {
    std::string key, name;
    if (!Split(fullPath, key, name)) return;
    HKEY handle;
    if (value.empty()) {
      if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_SET_VALUE, &handle) ==
          ERROR_SUCCESS) {
        RegDeleteValueA(handle, name.c_str());
        RegCloseKey(handle);
      }
      return;
    }
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &handle, nullptr) != ERROR_SUCCESS) {
      return;
    }
    RegSetValueExA(handle, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
  }
};

}  // namespace

Registry& SystemRegistry() {
  static Win32Registry registry;
  return registry;
}

}  // namespace kel
