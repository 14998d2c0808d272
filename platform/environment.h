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
  /// The computer's name for the records: COMPUTERNAME where it is set and
  /// not empty (Windows always sets it), else what the system calls the
  /// machine (its host name).
  std::string ComputerName() { return Either(Get("COMPUTERNAME"), HostName()); }
  /// The user's name for the records: USERNAME where it is set and not
  /// empty, else the login name.
  std::string UserName() { return Either(Get("USERNAME"), LoginName()); }

 protected:
  /// The system's names behind the two above; empty when unknown.
  virtual std::string HostName() { return {}; }
  virtual std::string LoginName() { return {}; }

 private:
  static std::string Either(std::string value, std::string fallback) {
    return value.empty() ? fallback : value;
  }
};

/// The process environment.
Environment& SystemEnvironment();

/// The machine's own name (host name, or the Windows computer name); empty
/// when the system does not say.
std::string SystemHostName();
/// The name of the user the program runs as (login name); empty when the
/// system does not say.
std::string SystemLoginName();

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
  /// What the system would say of the machine and the user.
  std::string hostName;
  std::string loginName;

 protected:
  std::string HostName() override { return hostName; }
  std::string LoginName() override { return loginName; }

 private:
  std::map<std::string, std::string> vars_;
};

}  // namespace kel
