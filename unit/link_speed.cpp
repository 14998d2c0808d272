#include "unit/link_speed.h"

#include <algorithm>

#include "link/comm_port.h"
#include "link/packet_layer.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "unit/rpc_call.h"
#include "unit/rpc_codes.h"
#include "unit/rpc_identification.h"
#include "unit/rpc_proxy.h"
#include "unit/rpc_reset.h"

namespace kel {

namespace {

constexpr int kSpeedChangeAttempts = 8;
constexpr int kPingsAtNewSpeed = 4;
constexpr int kFallbackAttempts = 150;
// Each round of ReturnUnitToSpeed is two exchanges at the normal timeout.
constexpr int kReturnRounds = 4;
constexpr int32_t kH8S2145MaxSpeed = 115200;
constexpr int32_t kOldSoftwareMaxSpeed = 230400;
// Software 6.06r35 was the first to run its port above 230400 baud.
constexpr int kFastSpeedSoftware = 606;
constexpr int kFastSpeedRelease = 35;

constexpr const char kUnableToChangeBaudrate[] = "Unable to change baudrate";
// How long a unit restarted to get back its own line settings is looked for.
constexpr uint32_t kOwnSettingsRestartMs = 10000;

void TraceTimeout(Output& out, uint32_t timeoutMs) {
  out.Print(Sink::kDetail, " timeout=", timeoutMs, "ms");
}

// A link change that cannot be made leaves no way to reach the unit.
void ChangeOrFail(Link& link, int32_t baudRate, bool evenParity, uint32_t timeoutMs) {
  if (!ChangePacketBaudRate(link, baudRate, evenParity, timeoutMs)) {
    link.runtime.FatalError(kUnableToChangeBaudrate);
  }
}

// One set-unit-speed exchange at the unit's address; the reply is the bare echo.
bool SendUnitSpeed(Link& link, const UnitInfo& unit, int32_t baudRate) {
  RpcRequest request(unit.unitAddress, rpc::kSetUnitSpeed);
  request.U32(static_cast<uint32_t>(baudRate));
  return RpcAttempt(link, request, {4});
}

}  // namespace

bool ChangePacketBaudRate(Link& link, int32_t baudRate, bool evenParity, uint32_t timeoutMs,
                          bool direct) {
  Output& out = link.runtime.out;
  LinkSettings& settings = link.port.settings();
  const int32_t previousRate = settings.baudRate;
  // The port's own line changes with its parity too: a parity change
  // reopens it even at the same speed. The proxy's link has no parity.
  const bool parityChanged = evenParity != settings.evenParity;
  const bool changed = baudRate != previousRate;
  settings.baudRate = baudRate;
  settings.evenParity = evenParity;
  settings.receiveTimeoutMs = timeoutMs;
  link.packets.ClearReplyState();

  ProxySettings& proxy = link.packets.proxy();
  if (proxy.on) {
    if (!changed) {
      out.Print(Sink::kDetail, "proxy baud rate = ", baudRate, " (no change)");
      TraceTimeout(out, timeoutMs);
      out.Print(Sink::kDetail, "\r\n");
      return true;
    }
    out.Print(Sink::kDetail, "ChangePacketBaudRate", ": using proxy to change baud rate", "\r\n");
    const bool done =
        SetProxySpeed(link, proxy.unitId, proxy.portNumber, static_cast<uint32_t>(baudRate));
    out.Print(Sink::kDetail, "proxy baud rate = ", baudRate);
    TraceTimeout(out, timeoutMs);
    out.Print(Sink::kDetail, "\r\n");
    // The proxy's link stayed where it was; keeping the old rate makes the
    // next request for the new one try again instead of passing as "no change".
    if (!done) settings.baudRate = previousRate;
    return done;
  }

  if (!changed && !parityChanged) {
    out.Print(Sink::kDetail, "baud rate = ", baudRate, " (no change)");
    TraceTimeout(out, timeoutMs);
    out.Print(Sink::kDetail, "\r\n");
    return true;
  }

  if (direct && !parityChanged) {
    out.Print(Sink::kDetail, "ChangePacketBaudRate", ": direct call to comm port", "\r\n");
    link.port.PurgeAndReportErrors();
    // A refusal is reported by the port; the change still counts as made
    // because the caller's next exchange shows whether the unit is there.
    link.port.SetSpeedInPlace(baudRate);
    out.Print(Sink::kDetail, "baud rate = ", baudRate);
    TraceTimeout(out, timeoutMs);
    out.Print(Sink::kDetail, " (direct baud rate setting)\r\n");
    return true;
  }

  out.Print(Sink::kDetail, "ChangePacketBaudRate", ": re-opening comm port to change baud rate",
            "\r\n");
  const bool reopened = link.port.ChangeBaudRate();
  out.Print(Sink::kDetail, "baud rate = ", baudRate);
  TraceTimeout(out, timeoutMs);
  out.Print(Sink::kDetail, evenParity ? " (even parity)\r\n" : "\r\n");
  return reopened;
}

void SetReceiveTimeout(Link& link, uint32_t timeoutMs) {
  LinkSettings& settings = link.port.settings();
  settings.receiveTimeoutMs = timeoutMs;
  link.packets.ClearReplyState();
  Output& out = link.runtime.out;
  out.Print(Sink::kDetail, "baud rate = ", settings.baudRate, " (no change)");
  TraceTimeout(out, timeoutMs);
  out.Print(Sink::kDetail, "\r\n");
}

void SaveConnection(Link& link) {
  const LinkSettings& settings = link.port.settings();
  link.state.savedBaudRate = settings.baudRate;
  link.state.savedEvenParity = settings.evenParity;
  link.runtime.out.Print(Sink::kDebug, "-- saved connection baud rate = ", settings.baudRate,
                         "\r\n");
}

void RestoreConnection(Link& link, uint32_t timeoutMs) {
  link.runtime.out.Print(
      Sink::kDebug, "-- restoring saved connection baud rate = ", link.state.savedBaudRate, "\r\n");
  ChangeOrFail(link, link.state.savedBaudRate, link.state.savedEvenParity, timeoutMs);
}

bool ReturnUnitToSpeed(Link& link, uint8_t address, int32_t baudRate, bool evenParity) {
  const LinkSettings& settings = link.port.settings();
  const int32_t fromRate = settings.baudRate;
  const bool fromParity = settings.evenParity;
  bool back = false;
  for (int round = 0; round < kReturnRounds && !back; ++round) {
    // Still at the link's speed: ask it to move. Then look for it where it
    // should be, which is also where it is if it restarted meanwhile.
    if (fromRate != baudRate &&
        ChangePacketBaudRate(link, fromRate, fromParity, kNormalTimeoutMs)) {
      UnitInfo unit;
      unit.unitAddress = address;
      SendUnitSpeed(link, unit, baudRate);
    }
    if (!ChangePacketBaudRate(link, baudRate, evenParity, kNormalTimeoutMs)) return false;
    back = Ping(link, address);
  }
  ChangePacketBaudRate(link, baudRate, evenParity, kLongTimeoutMs);
  return back;
}

namespace {

// The speed request moves a unit without parity, so a unit found at even
// parity runs so by its own settings, which a restart brings back. Looked
// for there first, in case it restarted meanwhile; then restarted from
// where the link is and looked for until it is up again.
bool RestartUnitToOwnSettings(Link& link, uint8_t address, int32_t baudRate) {
  const LinkSettings& settings = link.port.settings();
  const int32_t fromRate = settings.baudRate;
  const bool fromParity = settings.evenParity;
  if (!ChangePacketBaudRate(link, baudRate, true, kNormalTimeoutMs)) return false;
  bool back = Ping(link, address);
  if (!back && ChangePacketBaudRate(link, fromRate, fromParity, kNormalTimeoutMs)) {
    UnitInfo unit;
    unit.unitAddress = address;
    unit.connectionMode = modeApplication;
    Reset(link, unit);
    if (!ChangePacketBaudRate(link, baudRate, true, kNormalTimeoutMs)) return false;
    const uint32_t start = link.runtime.clock.Ticks();
    while (!back && link.runtime.clock.Ticks() - start < kOwnSettingsRestartMs) {
      back = Ping(link, address);
    }
  }
  ChangePacketBaudRate(link, baudRate, true, kLongTimeoutMs);
  return back;
}

}  // namespace

bool PutUnitBackToSpeed(Link& link, uint8_t address, int32_t baudRate, bool evenParity,
                        const std::vector<int32_t>& alsoFrom) {
  auto backFromHere = [&] {
    return evenParity ? RestartUnitToOwnSettings(link, address, baudRate)
                      : ReturnUnitToSpeed(link, address, baudRate, evenParity);
  };
  const int32_t linkRate = link.port.settings().baudRate;
  bool back = backFromHere();
  for (auto from = alsoFrom.rbegin(); !back && from != alsoFrom.rend(); ++from) {
    if (*from == linkRate || *from == baudRate) continue;
    if (!ChangePacketBaudRate(link, *from, false, kNormalTimeoutMs)) break;
    back = backFromHere();
  }
  if (back) return true;
  link.runtime.out.Print(Sink::kDebug, "Unable to change baud rate\r\n");
  link.runtime.out.Print(Sink::kInfo, NotPutBackText(baudRate), "\r\n");
  return false;
}

std::string NotPutBackText(int32_t baudRate) {
  return "Warning: the connected unit could not be put back to " + std::to_string(baudRate) +
         " baud";
}

int32_t LimitUnitSpeed(const UnitInfo& unit, int32_t baudRate) {
  if (baudRate == 0) return kFallbackSpeed;
  if (unit.mcuType == mcuH8S2145) return std::min(baudRate, kH8S2145MaxSpeed);
  const bool oldSoftware =
      unit.softwareVersion < kFastSpeedSoftware ||
      (unit.softwareVersion == kFastSpeedSoftware && unit.softwareRelease < kFastSpeedRelease);
  if (oldSoftware) return std::min(baudRate, kOldSoftwareMaxSpeed);
  return baudRate;
}

bool SetUnitSpeed(Link& link, UnitInfo& unit, int32_t baudRate) {
  if (unit.connectionMode != modeApplication) return false;
  Output& out = link.runtime.out;
  LinkSettings& settings = link.port.settings();

  int32_t rate = LimitUnitSpeed(unit, baudRate);
  out.Print(Sink::kDebug, "Ponderix baud rate ", rate, " specified\r\n");
  if (std::find(kUnitSpeeds.begin(), kUnitSpeeds.end(), rate) == kUnitSpeeds.end()) {
    out.Print(Sink::kInfo, "Unknown baudrate: ", rate, "\r\n", "Available baudrates are:");
    for (int32_t speed : kUnitSpeeds) out.Print(Sink::kInfo, " ", speed);
    out.Print(Sink::kInfo, "\r\nUsing 115200\r\n");
    rate = kFallbackSpeed;
  }

  if (rate == settings.baudRate) {
    out.Print(Sink::kDebug, "No change - already at the specified baud rate\r\n");
    SetReceiveTimeout(link, kLongTimeoutMs);
    return true;
  }

  out.Print(Sink::kDebug, "Changing Ponderix baud rate to ", rate, "\r\n");
  if (link.state.beforeUnitSpeedChange) {
    link.state.beforeUnitSpeedChange(unit.unitAddress, link.packets.proxy().on, rate);
  }
  const int32_t oldRate = settings.baudRate;
  const bool oldParity = settings.evenParity;
  bool accepted = false;
  for (int k = 0; k < kSpeedChangeAttempts && !accepted; ++k) {
    // The unit may have switched even though its reply was lost, so the
    // attempts alternate between where it was and where it may now be.
    if (k % 2 == 0) {
      ChangeOrFail(link, oldRate, oldParity, kNormalTimeoutMs);
    } else {
      ChangeOrFail(link, rate, false, kNormalTimeoutMs);
    }
    accepted = SendUnitSpeed(link, unit, rate);
  }
  if (!accepted) {
    out.Print(Sink::kDebug, "FAILED\r\n");
    // The last attempt left the link at the new speed; the unit never
    // confirmed it, so the link goes back to where the unit still is.
    ChangeOrFail(link, oldRate, oldParity, kNormalTimeoutMs);
    return false;
  }

  ChangeOrFail(link, rate, false, kNormalTimeoutMs);
  for (int ping = 0; ping < kPingsAtNewSpeed; ++ping) {
    if (Ping(link, unit.unitAddress)) {
      out.Print(Sink::kDebug, "COMPLETE\r\n");
      ChangeOrFail(link, rate, false, kLongTimeoutMs);
      return true;
    }
  }

  out.Print(Sink::kInfo, "-- could not connect at ", rate, " - falling back to 115200\r\n");
  // 115200 is the one speed of the two that a later run's search finds the
  // unit at; the way out asks it back from the speed it was sent to as well.
  if (link.state.beforeUnitSpeedChange) {
    link.state.beforeUnitSpeedChange(unit.unitAddress, link.packets.proxy().on, kFallbackSpeed);
  }
  // The unit took the new rate and may well be there, having only missed
  // the pings: it is asked at the new rate as well as at 115200.
  for (int attempt = 0; attempt < kFallbackAttempts; ++attempt) {
    const bool atNewRate = attempt % 2 == 1 && rate != kFallbackSpeed;
    ChangeOrFail(link, atNewRate ? rate : kFallbackSpeed, false, kNormalTimeoutMs);
    if (SendUnitSpeed(link, unit, kFallbackSpeed)) {
      out.Print(Sink::kDebug, "COMPLETE\r\n");
      ChangeOrFail(link, kFallbackSpeed, false, kLongTimeoutMs);
      return true;
    }
  }
  out.Print(Sink::kDebug, "FAILED\r\n");
  ChangeOrFail(link, kFallbackSpeed, false, kNormalTimeoutMs);
  return false;
}

}  // namespace kel
