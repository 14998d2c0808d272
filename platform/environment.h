#pragma once

#include <map>
#include <string>

namespace kel {

/// Read access to environment variables; an unset variable reads as empty.
class Environment {
 public:
  virtual ~Environment() = default;
  virtual std::string Get(const std::string& name) = 0;
  /// True when the variable is set (even to an empty value).
  virtual bool IsSet(const std::string& name) = 0;
};

/// The process environment.
Environment& SystemEnvironment();

/// A fixed set of variables, for tests.
class MapEnvironment : public Environment {
 public:
  MapEnvironment() = default;
  explicit MapEnvironment(std::map<std::string, std::string> vars) : vars_(std::move(vars)) {}
  std::string Get(const std::string& name) override {
    auto it = vars_.find(name);
    return it == vars_.end() ? std::string() : it->second;
  }
  bool IsSet(const std::string& name) override { return vars_.count(name) != 0; }
  void Set(const std::string& name, const std::string& value) { vars_[name] = value; }
  void Unset(const std::string& name) { vars_.erase(name); }

 private:
  std::map<std::string, std::string> vars_;
};

}  // namespace kel
