#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/link_state.h"

namespace kel {

/// At most this many remote unit addresses are kept from one listing.
constexpr size_t kMaxRemoteUnits = 100;

/// The addresses of the units behind the directly connected one, asked at
/// `unitId`. A listing of more than kMaxRemoteUnits is received in full but
/// its addresses are not kept (`addresses` is then empty).
bool ListRemoteUnits(Link& link, std::vector<uint8_t>& addresses);

/// What a test jig reports about the unit on its second port.
struct ProxySearchResult {
  uint8_t result = 0;       ///< 0 when a unit was found
  uint8_t portNumber = 0;   ///< the jig's port behind which the unit sits
  uint32_t baudRate = 0;    ///< speed of the jig's link to that unit
  uint8_t unitAddress = 0;  ///< the unit's address
  bool bootLoader = false;  ///< the unit answers in its boot loader
};

/// Asks the test jig at `jigAddress` for the unit on its second port. True
/// when the jig reports one (result 0); `found` holds the reply's fields
/// after any valid reply.
bool SearchKelUpdaterProxy(Link& link, uint8_t jigAddress, ProxySearchResult& found);

/// Switches the jig into forwarding mode (2 attempts); true when its result is 0.
bool OpenKelUpdaterProxy(Link& link, uint8_t jigAddress);
/// Ends the jig's forwarding mode (8 attempts); true when its result is 0.
bool CloseKelUpdaterProxy(Link& link, uint8_t jigAddress);

/// Moves the proxy's own link to the remote unit to `baudRate`. Sent to the
/// proxy unit itself, never through the proxy: the proxy flag is off for
/// the exchange. True when the echo matches and the result is 0.
bool SetProxySpeed(Link& link, uint8_t proxyUnitId, uint8_t proxyPortNumber, uint32_t baudRate);

}  // namespace kel
