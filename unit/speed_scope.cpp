#include "unit/speed_scope.h"

#include "link/comm_port.h"
#include "link/packet_layer.h"
#include "runtime/runtime.h"
#include "unit/link_speed.h"
#include "unit/proxy_switch.h"
#include "unit/rpc_proxy.h"

namespace kel {

SpeedScope::SpeedScope(Link& link, const UnitInfo& connected)
    : link_(link),
      connected_(connected),
      unitAddress_(connected.unitAddress),
      movable_(connected.connectionMode == modeApplication),
      foundBaudRate_(link.port.settings().baudRate),
      foundEvenParity_(link.port.settings().evenParity) {
  link.runtime.restoreLink = [this] { PutBack(); };
}

SpeedScope::~SpeedScope() { link_.runtime.restoreLink = nullptr; }

void SpeedScope::PutBack() {
  Output& out = link_.runtime.out;
  if (!link_.port.isOpen()) return;
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
  const LinkSettings& settings = link_.port.settings();
  const bool moved = settings.baudRate != foundBaudRate_ || settings.evenParity != foundEvenParity_;
  if (!movable_ || !moved || connected_.connectionMode != modeApplication) return;
  out.Print(Sink::kDebug, "-- putting the unit back to ", foundBaudRate_, " baud\r\n");
  PutUnitBackToSpeed(link_, unitAddress_, foundBaudRate_, foundEvenParity_);
}

}  // namespace kel
