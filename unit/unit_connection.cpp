#include "unit/unit_connection.h"

#include <algorithm>
#include <vector>

#include "link/comm_port.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "unit/boot_loader_entry.h"
#include "unit/link_speed.h"
#include "unit/rpc_call.h"
#include "unit/rpc_identification.h"
#include "unit/rpc_proxy.h"
#include "unit/unit_probe.h"

namespace kel {

namespace {

constexpr int kSoftwareWithAckBlocks = 604;
constexpr char kBootLoaderInfoUnreadable[] =
    "Unable to read the unit information from the boot loader";
constexpr uint32_t kDirectPingPhaseMs = 5000;
constexpr uint32_t kReconnectLimitMs = 60000;
constexpr uint32_t kRemoteFastPhaseMs = 10000;
constexpr uint32_t kRemoteFastPauseMs = 100;
// Pause between slow rounds, so a network that answers its listing at once
// does not print a dot every few milliseconds.
constexpr uint32_t kRemoteSlowPauseMs = 1000;
constexpr uint32_t kPingAfterProbeMs = 2000;
constexpr uint32_t kCtsWaitMs = 1000;
constexpr uint32_t kCtsPollMs = 10;
// A display at this Modbus address is a test jig's own control display.

class Stopwatch {
 public:
  explicit Stopwatch(Clock& clock) : clock_(clock), start_(clock.Ticks()) {}
  uint32_t elapsed() const { return clock_.Ticks() - start_; }

 private:
  Clock& clock_;
  uint32_t start_;
};

bool PingAndReadBasicInfo(Link& link, UnitInfo& unit) {
  return Ping(link, unit.unitAddress) && ReadBasicInfo(link, unit);
}

void FinishDirectReconnection(Link& link, UnitInfo& unit) {
  TraceComplete(link.runtime.out);
  unit.connectionMode = modeApplication;
  ReadExtendedInfo(link, unit);
  ReadAdvancedInfo(link, unit);
}

bool ReconnectDirect(Link& link, UnitInfo& unit, const Stopwatch& watch, bool& dots) {
  Output& out = link.runtime.out;
  RestoreConnection(link, kNormalTimeoutMs);
  out.Print(Sink::kDebug, "RPC: Ping and ReadBasicInfo\r\n");
  while (watch.elapsed() < kDirectPingPhaseMs) {
    if (PingAndReadBasicInfo(link, unit)) {
      FinishDirectReconnection(link, unit);
      return true;
    }
  }
  while (watch.elapsed() < kReconnectLimitMs) {
    if (CheckUnitId(link, unit)) {
      RestoreConnection(link, kNormalTimeoutMs);
      out.Print(Sink::kDebug, "RPC: Ping and ReadBasicInfo\r\n");
      const uint32_t tries = kPingAfterProbeMs / kNormalTimeoutMs;
      for (uint32_t attempt = 0; attempt < tries; ++attempt) {
        if (PingAndReadBasicInfo(link, unit)) {
          FinishDirectReconnection(link, unit);
          return true;
        }
      }
    }
    out.Print(Sink::kConsole, ".");
    dots = true;
  }
  return false;
}

// A fresh record of the unit at `address` behind the connected unit.
bool ReadRemoteUnit(Link& link, uint8_t address, UnitInfo& fresh) {
  fresh = UnitInfo{};
  fresh.connectionMode = modeApplication;
  fresh.unitAddress = address;
  if (!ReadUnitInfo(link, fresh)) return false;
  ReadExtendedInfo(link, fresh);
  ReadAdvancedInfo(link, fresh);
  return true;
}

bool SameKind(const UnitInfo& a, const UnitInfo& b) {
  return a.mcuType == b.mcuType && a.unitType == b.unitType;
}

bool ReconnectRemote(Link& link, UnitInfo& unit, const Stopwatch& watch, bool& dots) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  if (unit.connectionMode == modeUnknown) {
    out.Print(Sink::kDebug,
              "-- software mode of unit is unknown for remote unit, setting to ponderix "
              "software mode\r\n");
    unit.connectionMode = modeApplication;
  }
  // The unit is reached through the connected unit, at the speed the link
  // runs at now: a production job has moved the connected unit to the
  // programming speed, so the connection on which it was found would no
  // longer reach it.
  SetReceiveTimeout(link, kNormalTimeoutMs);
  bool found = false;
  std::vector<uint8_t> addresses;
  while (!found && watch.elapsed() < kRemoteFastPhaseMs) {
    rt.clock.Sleep(kRemoteFastPauseMs);
    if (!ListRemoteUnits(link, addresses)) continue;
    if (std::find(addresses.begin(), addresses.end(), unit.unitAddress) == addresses.end()) {
      continue;
    }
    UnitInfo fresh;
    if (ReadRemoteUnit(link, unit.unitAddress, fresh) && SameKind(fresh, unit)) {
      unit = fresh;
      found = true;
    }
  }
  SetReceiveTimeout(link, kLongTimeoutMs);

  while (!found && watch.elapsed() < kReconnectLimitMs) {
    if (ListRemoteUnits(link, addresses)) {
      bool accepted = false;
      UnitInfo match;
      for (uint8_t address : addresses) {
        out.Print(Sink::kDebug, "Checking Ponderix Unit: ", address, "\r\n");
        UnitInfo fresh;
        if (!ReadRemoteUnit(link, address, fresh) || !SameKind(fresh, unit)) continue;
        if (address == kJigDisplayAddress && fresh.unitType == unitTypeDisplay &&
            fresh.serialNumber != unit.serialNumber) {
          out.Print(Sink::kDebug, "-- TestJig control display (ignored)\r\n");
          continue;
        }
        if (accepted) {
          rt.FatalError(
              "Found more than one unit that matches the product type, unable to complete update");
        }
        accepted = true;
        out.Print(Sink::kDebug, "-- found matching unit: ", address, "\r\n");
        if (unit.serialNumber != 0 && fresh.serialNumber != unit.serialNumber) {
          out.Print(Sink::kInfo, "\r\nWarning: serial number does not match!\r\n");
        }
        match = fresh;
      }
      // The old record stays the reference until the whole list was
      // checked, so a second match is judged against the unit that restarted.
      if (accepted) {
        unit = match;
        found = true;
        break;
      }
    }
    out.Print(Sink::kConsole, ".");
    dots = true;
    rt.clock.Sleep(kRemoteSlowPauseMs);
  }
  return found;
}

}  // namespace

bool ConnectToUnit(Link& link, UnitInfo& unit) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  out.Print(Sink::kDebug, "Connecting to Ponderix unit...\r\n");
  if (!link.port.isOpen()) return false;

  // A boot loader that answers its own calls but not the identity request
  // would otherwise send this loop round for ever, and without its identity
  // (card, unit type) nothing later can be decided: the run ends here,
  // saying what could not be read.
  for (;;) {
    RestoreConnection(link, kNormalTimeoutMs);
    if (unit.connectionMode == modeApplication) Ping(link, rt.options.unitId);
    if (ReadUnitInfo(link, unit)) break;
    if (unit.connectionMode == modePonderixBootLoader) rt.FatalError(kBootLoaderInfoUnreadable);
    if (!WaitForBootLoader(link, unit)) return false;
  }

  if (unit.connectionMode == modePonderixBootLoader) ReadBootLoaderRelease(link, unit);
  if (unit.connectionMode == modeUnknown) {
    out.Print(Sink::kDebug, "-- software mode of unit is unknown\r\n");
  }
  link.state.software604OrLater = unit.softwareVersion >= kSoftwareWithAckBlocks;
  RestoreConnection(link, kLongTimeoutMs);
  return true;
}

bool ReconnectUnit(Link& link, UnitInfo& unit) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  const Stopwatch watch(rt.clock);
  out.Print(Sink::kInfo, "Reconnecting to unit ", unit.unitAddress, "\r\n");
  bool dots = false;
  const bool direct = unit.unitAddress == rt.options.unitId;
  const bool found =
      direct ? ReconnectDirect(link, unit, watch, dots) : ReconnectRemote(link, unit, watch, dots);
  if (dots) out.Print(Sink::kConsole, "\r\n");
  if (!found) return false;
  if (unit.connectionMode == modeUnknown) {
    out.Print(Sink::kDebug, "-- software mode of unit is unknown\r\n");
  }
  if (direct) {
    RestoreConnection(link, kLongTimeoutMs);
  } else {
    SetReceiveTimeout(link, kLongTimeoutMs);
  }
  return true;
}

bool TestCts(Link& link) {
  Runtime& rt = link.runtime;
  const Stopwatch watch(rt.clock);
  for (;;) {
    if (link.port.Cts()) {
      rt.out.Print(Sink::kInfo, "-- CTS signal received from unit\r\n");
      return true;
    }
    if (watch.elapsed() > kCtsWaitMs) break;
    rt.clock.Sleep(kCtsPollMs);
  }
  rt.out.Print(Sink::kInfo, "-- no CTS signal received from unit, overlapped mode disabled\r\n");
  return false;
}

}  // namespace kel
