#pragma once

#include "app/options.h"
#include "app/output.h"
#include "app/runtime.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/process_exit.h"
#include "platform/registry.h"
#include "platform/virtual_clock.h"

namespace kel {

/// A complete Runtime built from fakes: scripted keys, a virtual clock, a
/// map environment and registry, and an exit that throws ExitRequested.
struct AppFixture {
  explicit AppFixture(std::string keys = {}) : console(std::move(keys)) {}

  /// Runs `body`, which must end the process, and returns the exit code.
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
  ScriptedConsole console;
  VirtualClock clock;
  Output out{console, clock, options};
  MapEnvironment env;
  MapRegistry registry;
  ThrowingExit exit;
  Runtime rt{options, out, clock, console, env, registry, exit, {}};
};

}  // namespace kel
