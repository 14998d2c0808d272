#pragma once

#include <cstdint>

namespace kel {

class Output;

/// The line that reports a unit's refusal to write its flash: a non-zero
/// result code for the block at `address`.
void ReportHardwareFailure(Output& out, uint32_t address, uint8_t result);

}  // namespace kel
