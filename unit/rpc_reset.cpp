#include "unit/rpc_reset.h"

#include "runtime/output.h"
#include "runtime/runtime.h"
#include "unit/rpc_call.h"
#include "unit/rpc_codes.h"
#include "unit/unit_left.h"

namespace kel {

namespace {

constexpr int kApplicationResetAttempts = 8;
constexpr int kBootLoaderResetAttempts = 4;
constexpr int kResetSystemAttempts = 8;
constexpr uint32_t kReadyPollPauseMs = 200;
constexpr uint32_t kReadyLimitMs = 10000;
constexpr int kFirstReadyPollSoftware = 600;

// Reset and ResetSystem announce every attempt: a restarting unit may take
// several, and the log should show each one.
bool AnnouncedAttempts(Link& link, const char* name, const RpcRequest& request, int attempts) {
  Output& out = link.runtime.out;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    TraceRpc(out, name);
    if (RpcAttempt(link, request, {4})) {
      TraceComplete(out);
      return true;
    }
  }
  TraceFailed(out);
  return false;
}

}  // namespace

bool Reset(Link& link, UnitInfo& unit) {
  if (unit.connectionMode == modeApplication) {
    RpcRequest request(unit.unitAddress, rpc::kReset);
    const bool done = AnnouncedAttempts(link, "Reset", request, kApplicationResetAttempts);
    // Only the directly connected unit's link is affected by its restart;
    // a unit behind it keeps its mode for the caller to decide.
    if (unit.unitAddress == link.runtime.options.unitId) unit.connectionMode = modeUnknown;
    return done;
  }
  if (unit.connectionMode == modePonderixBootLoader || unit.connectionMode == modeFlashProgrammer) {
    RpcRequest request(link.state.bootLoaderAddress, rpc::kReset);
    const bool done = AnnouncedAttempts(link, "Reset", request, kBootLoaderResetAttempts);
    if (done) {
      unit.connectionMode = modeUnknown;
      UnitRestarted(link);
    }
    return done;
  }
  link.runtime.out.Print(Sink::kDebug, "Unknown unit mode\r\n");
  return false;
}

bool ResetSystem(Link& link, UnitInfo& unit) {
  if (unit.connectionMode != modeApplication) link.runtime.FatalError("Unable to restart system");
  RpcRequest request(unit.unitAddress, rpc::kResetSystem);
  const bool done = AnnouncedAttempts(link, "ResetSystem", request, kResetSystemAttempts);
  unit.connectionMode = modeUnknown;
  return done;
}

bool WaitForUnit(Link& link, const UnitInfo& unit) {
  if (unit.connectionMode != modeApplication || unit.softwareVersion < kFirstReadyPollSoftware) {
    return true;
  }
  Output& out = link.runtime.out;
  Clock& clock = link.runtime.clock;
  out.Print(Sink::kInfo, "Waiting for unit...\r\n");
  const uint32_t start = clock.Ticks();
  RpcRequest request(unit.unitAddress, rpc::kUnitReady);
  while (true) {
    uint8_t ready = 0;
    const bool valid = RpcAttempt(link, request, {5}, [&ready](RpcReply& reply) {
      ready = reply.U8();
      return true;
    });
    if (valid && ready != 0) {
      out.Print(Sink::kInfo, "\r\n");
      return true;
    }
    if (clock.Ticks() - start >= kReadyLimitMs) {
      out.Print(Sink::kInfo, "FAILED\r\n");
      return false;
    }
    clock.Sleep(kReadyPollPauseMs);
    out.Print(Sink::kInfo, ".");
  }
}

}  // namespace kel
