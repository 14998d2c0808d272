#include "runtime/registry_settings.h"

namespace kel {

std::string ReadRegistryString(Registry& registry, const std::string& fullPath) {
  std::string value = registry.ReadString(fullPath);
  // Every caller reads numbers or short paths; a value too long for the
  // buffer fails the read rather than arriving cut short.
  if (value.size() > kMaxRegistryStringLength) return std::string();
  // A string value may carry its terminating zero; the text ends there.
  size_t zero = value.find('\0');
  if (zero != std::string::npos) value.resize(zero);
  return value;
}

void WriteRegistryString(Registry& registry, const std::string& fullPath,
                         const std::string& value) {
  registry.WriteString(fullPath, value);
}

}  // namespace kel
