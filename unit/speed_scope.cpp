#include "unit/speed_scope.h"

#include <algorithm>

#include "link/comm_port.h"
#include "link/packet_layer.h"
#include "runtime/runtime.h"
#include "unit/link_speed.h"
#include "unit/proxy_switch.h"
#include "unit/rpc_identification.h"
#include "unit/rpc_proxy.h"
#include "unit/unit_left.h"

namespace kel {

SpeedScope::SpeedScope(Link& link, const UnitInfo& connected)
    : link_(link),
      connected_(connected),
      unitAddress_(connected.unitAddress),
      movable_(connected.connectionMode == modeApplication),
      foundBaudRate_(link.port.settings().baudRate),
      foundEvenParity_(link.port.settings().evenParity),
      note_(link.runtime.registry, link.port.settings().portNumber) {
  if (!movable_) {
    // A unit in its boot loader starts its application at its own speed:
    // whatever an earlier run left noted no longer holds.
    note_.Remove();
  } else if (const std::optional<FoundSpeed> noted = note_.Read(connected)) {
    // Only a unit still where the earlier run sent it is moved: one found
    // anywhere else has been set or restarted since, and keeps its speed.
    // A run sends a unit on without parity, so one found with it is not
    // where that run left it either.
    const std::vector<int32_t>& away = noted->awayBaudRates;
    if (std::find(away.begin(), away.end(), foundBaudRate_) != away.end() && !foundEvenParity_) {
      link.runtime.out.Print(Sink::kInfo, "-- the unit was left at ", foundBaudRate_,
                             " baud by an earlier run: putting it back to ", noted->baudRate,
                             " baud\r\n");
      foundBaudRate_ = noted->baudRate;
      foundEvenParity_ = noted->evenParity;
      awayBaudRates_ = away;
      noted_ = true;
    } else {
      note_.Remove();
    }
  }
  link.state.homeBaudRate = foundBaudRate_;
  link.state.homeEvenParity = foundEvenParity_;
  link.runtime.restoreLink = [this] { PutBack(); };
  link.state.beforeUnitSpeedChange = [this](uint8_t address, bool throughProxy, int32_t baudRate) {
    // A unit behind a test jig is reached through the jig's proxy; only a
    // change of the connected unit's own speed takes it away from the link.
    NoteFoundSpeed(baudRate, !throughProxy && address == unitAddress_);
  };
}

SpeedScope::~SpeedScope() {
  link_.runtime.restoreLink = nullptr;
  link_.state.beforeUnitSpeedChange = nullptr;
  link_.state.homeBaudRate = 0;
}

void SpeedScope::NoteFoundSpeed(int32_t baudRate, bool connectedUnit) {
  if (!connectedUnit || baudRate == foundBaudRate_) return;
  const bool known =
      std::find(awayBaudRates_.begin(), awayBaudRates_.end(), baudRate) != awayBaudRates_.end();
  if (!known) awayBaudRates_.push_back(baudRate);
  // The note names every speed the unit was sent to (one whose answer was
  // lost may have been taken all the same), so it grows with each new one.
  if (!movable_ || (noted_ && known)) return;
  note_.Write(connected_, FoundSpeed{foundBaudRate_, foundEvenParity_, awayBaudRates_});
  noted_ = true;
}

void SpeedScope::PutBack() {
  Output& out = link_.runtime.out;
  if (!link_.port.isOpen()) return;
  // First the unit the run left in its boot loader or programmer, which
  // may sit behind the test jig's proxy that is put back next.
  RestartUnitLeftOut(link_);
  ProxySettings& proxy = link_.packets.proxy();
  if (proxy.on) {
    out.Print(Sink::kDebug, "-- putting the test jig's proxy back\r\n");
    // While the proxy is on, the saved connection is the speed at which the
    // jig reached the unit behind it; a programming speed set through the
    // proxy would stay on the jig's port.
    if (link_.port.settings().baudRate != link_.state.savedBaudRate) {
      ChangePacketBaudRate(link_, link_.state.savedBaudRate, false, kNormalTimeoutMs);
    }
    const uint8_t jig = proxy.unitId;
    TurnProxyOff(link_);
    link_.state.bufferedTransfer = false;
    SetReceiveTimeout(link_, kNormalTimeoutMs);
    CloseKelUpdaterProxy(link_, jig);
  }
  if (!movable_) return;
  const LinkSettings& settings = link_.port.settings();
  bool moved = settings.baudRate != foundBaudRate_ || settings.evenParity != foundEvenParity_;
  const bool application = connected_.connectionMode == modeApplication;
  if (application && !moved && !awayBaudRates_.empty() && !Ping(link_, unitAddress_)) {
    // The link is back but the unit does not answer there: a speed change
    // was never confirmed (its replies lost, the run stopped while waiting
    // for one, the way back failed) and the unit may still be where the run
    // sent it. It is asked back from there.
    moved = true;
  }
  // A unit no longer in its application restarts at its own speed; one that
  // is back where it was found needs no note either. The note stays only
  // while the unit may still be elsewhere.
  bool back = !moved || !application;
  if (!back) {
    out.Print(Sink::kDebug, "-- putting the unit back to ", foundBaudRate_, " baud\r\n");
    // Asked back from where the link is, then from each speed the run
    // sent the unit to: it may not be where the link is (the run stopped
    // while it looked for the unit at a new speed, or fell back from one).
    back =
        PutUnitBackToSpeed(link_, unitAddress_, foundBaudRate_, foundEvenParity_, awayBaudRates_);
  }
  if (!back) {
    // An orderly end that leaves the unit elsewhere did not do all it had
    // to; a fatal error or a stop keeps its own exit code.
    link_.runtime.EndUnfinished(Runtime::kExitIncomplete, NotPutBackText(foundBaudRate_));
  }
  if (back && noted_) {
    note_.Remove();
    noted_ = false;
  }
}

}  // namespace kel
