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
};

}  // namespace

Environment& SystemEnvironment() {
  static ProcessEnvironment environment;
  return environment;
}

}  // namespace kel
