#pragma once

#include <cstdint>
#include <string>

#include "runtime/runtime.h"
#include "unit/unit_info.h"

namespace kel {

/// Parameter-file keys through which a production job names the unit it
/// builds. "UnitType": 1-4 or Display, Transmitter, IOUnit, TestJig.
/// "McuType": one or two MCU types, codes 1-7 or names (LPC1768, ...),
/// separated by commas or spaces.
inline constexpr char kParamUnitType[] = "UnitType";
inline constexpr char kParamMcuType[] = "McuType";

/// The unit a manufacturing update looks for. Without `named` the connected
/// unit is the one updated, whatever it is.
struct ProductionTarget {
  bool named = false;
  uint8_t unitType = unitTypeUnknown;
  int8_t mcuA = mcuUnknown;
  int8_t mcuB = mcuUnknown;  ///< mcuA again when the job names one type
};

/// Reads the target from the parameter file: both keys, or neither. A value
/// that names no unit type or MCU type, more than two MCU types, or one key
/// without the other ends the run with a message naming the key.
ProductionTarget ReadProductionTarget(Runtime& rt);

/// "Transmitter (LPC4337 or LPC4357)": the target in words, for messages.
std::string DescribeTarget(const ProductionTarget& target);

}  // namespace kel
