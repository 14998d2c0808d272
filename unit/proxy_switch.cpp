#include "unit/proxy_switch.h"

#include "link/comm_port.h"
#include "link/packet_layer.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "unit/link_speed.h"

namespace kel {

void TurnProxyOn(Link& link, uint8_t proxyUnitId, uint8_t proxyPortNumber, int32_t remoteBaudRate,
                 uint8_t remoteAddress) {
  ProxySettings& proxy = link.packets.proxy();
  LinkSettings& settings = link.port.settings();
  Options& options = link.runtime.options;
  const bool alreadyOn = proxy.on;
  proxy.on = true;
  link.runtime.out.Print(Sink::kDetail, "Turning proxy ON", "\r\n");
  // A second switch-on must not overwrite the direct link with proxied
  // values, or switching off could never return to the connected unit.
  if (!alreadyOn) {
    link.state.keptBaudRate = settings.baudRate;
    link.state.keptEvenParity = settings.evenParity;
    link.state.keptUnitId = options.unitId;
  }
  // Two hops need more time than a quick probe of a direct link.
  link.state.fastTimeoutMs = kFastProxyTimeoutMs;
  settings.evenParity = false;
  settings.baudRate = remoteBaudRate;
  link.packets.ClearReplyState();
  SaveConnection(link);
  options.unitId = remoteAddress;
  proxy.unitId = proxyUnitId;
  proxy.portNumber = proxyPortNumber;
}

void TurnProxyOff(Link& link) {
  ProxySettings& proxy = link.packets.proxy();
  // Without a switch-on there is nothing kept to restore; restoring the
  // empty values would leave the link at speed 0.
  if (!proxy.on) return;
  proxy.on = false;
  link.runtime.out.Print(Sink::kDetail, "Turning proxy OFF", "\r\n");
  link.state.fastTimeoutMs = kFastTimeoutMs;
  LinkSettings& settings = link.port.settings();
  settings.baudRate = link.state.keptBaudRate;
  settings.evenParity = link.state.keptEvenParity;
  link.runtime.options.unitId = link.state.keptUnitId;
  link.packets.ClearReplyState();
}

}  // namespace kel
