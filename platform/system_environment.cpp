#include <cstdlib>

#include "platform/environment.h"

namespace kel {
namespace {

// getenv works alike on both platforms; nothing is cached, so a variable
// changed during the run is seen by the next read.
class ProcessEnvironment : public Environment {
 public:
  std::string Get(const std::string& name) override {
    const char* value = std::getenv(name.c_str());
    return value != nullptr ? std::string(value) : std::string();
  }
  bool IsSet(const std::string& name) override { return std::getenv(name.c_str()) != nullptr; }

 protected:
  // Windows sets COMPUTERNAME and USERNAME for every session; elsewhere
  // they are usually unset, and the system's own names stand in.
  std::string HostName() override { return SystemHostName(); }
  std::string LoginName() override { return SystemLoginName(); }
};

}  // namespace

Environment& SystemEnvironment() {
  static ProcessEnvironment environment;
  return environment;
}

}  // namespace kel
