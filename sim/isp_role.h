#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/sim_unit.h"

namespace kel::sim {

/// A blank LPC chip's ROM loader, as far as its autobaud handshake: "?" is
/// answered with "Synchronized\r\n"; the line "Synchronized" that the host
/// sends back is echoed and confirmed with "OK\r\n"; the crystal frequency
/// line that follows is echoed and confirmed the same way; later command
/// lines are echoed and answered with the success code "0\r\n". Text is
/// line-based (CR LF); anything else before synchronisation is ignored, as
/// the ROM ignores it while measuring the speed. Returns the bytes to send.
std::string HandleIspBytes(SimUnit& unit, const uint8_t* data, size_t length);

}  // namespace kel::sim
