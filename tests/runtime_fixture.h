#pragma once

#include <string>
#include <utility>

#include "platform/console.h"
#include "platform/environment.h"
#include "platform/process_exit.h"
#include "platform/registry.h"
#include "platform/virtual_clock.h"
#include "runtime/options.h"
#include "runtime/output.h"
#include "runtime/runtime.h"

namespace kel {

/// A complete Runtime built from fakes: scripted keys, a virtual clock, a
/// map environment and registry, and an exit that throws ExitRequested.
/// The base of every test fixture that needs a runtime.
struct RuntimeFixture {
  explicit RuntimeFixture(std::string keys = {}) : console(std::move(keys)) {}

  /// What reached the console so far.
  std::string Console() const { return console.output(); }

  /// Opens a new log at `path` (which must not exist yet).
  bool OpenLog(const std::string& path) {
    bool nameTaken = false;
    std::string error;
    return out.OpenLogFile(path, nameTaken, error);
  }

  /// Runs `body`, which must end the run, and returns the exit code (-1 if it did not).
  template <typename Body>
  int ExitCodeOf(Body body) {
    try {
      body();
    } catch (const ExitRequested& request) {
      return request.code;
    }
    return -1;
  }

  Options options;
  VirtualClock clock;
  ScriptedConsole console;
  Output out{console, clock, options};
  MapEnvironment env;
  MapRegistry registry;
  ThrowingExit exit;
  Runtime runtime{options, out, clock, console, env, registry, exit, {}};
};

}  // namespace kel
