#pragma once

#include <cstdint>

#include "link/link_state.h"

namespace kel {

/// Sends every following request through the directly connected unit
/// `proxyUnitId`, out of its port `proxyPortNumber`, to the unit at
/// `remoteAddress`, which the proxy reaches at `remoteBaudRate`. The link's
/// speed, parity and unitId from before are kept for TurnProxyOff; the
/// proxied link counts as the saved connection. The port is not touched.
void TurnProxyOn(Link& link, uint8_t proxyUnitId, uint8_t proxyPortNumber, int32_t remoteBaudRate,
                 uint8_t remoteAddress);

/// Returns to direct requests and restores the speed, parity and unitId
/// kept by TurnProxyOn. Does nothing while the proxy is off.
void TurnProxyOff(Link& link);

}  // namespace kel
