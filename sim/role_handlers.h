#pragma once

#include <cstdint>
#include <vector>

#include "sim/sim_reply.h"
#include "sim/sim_unit.h"

namespace kel::sim {

/// The role handlers the network dispatches to beyond the application, the
/// proxy and the ROM loader: the boot loader, the RAM flash programmer, the
/// file services, and what a unit does with received update files when it
/// restarts. Kept as a table so tests can stand in their own handlers.
struct RoleHandlers {
  using Handler = bool (*)(SimUnit& unit, const std::vector<uint8_t>& payload, SimReplies& replies);
  Handler bootLoader = nullptr;
  Handler programmer = nullptr;
  Handler files = nullptr;
  void (*applyUpdates)(SimUnit& unit) = nullptr;
  /// Fills the unit's reported software checksum and CRC from its flash.
  void (*refreshSoftwareCheck)(SimUnit& unit) = nullptr;
  /// True when the unit's flash holds application software to start; asked
  /// at a restart after the software area was erased or written.
  bool (*softwarePresent)(const SimUnit& unit) = nullptr;
};

/// The simulator's own handlers.
RoleHandlers DefaultRoleHandlers();

}  // namespace kel::sim
