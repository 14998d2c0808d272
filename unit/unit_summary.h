#pragma once

#include <string>

#include "runtime/run_summary.h"
#include "unit/unit_info.h"

namespace kel {

/// The unit's software as the unit report shows it: "v6.08r12" (an
/// H8S2145 without its release, "v5.90").
std::string SoftwareText(const UnitInfo& unit);

/// The boot loader as the unit report shows it: "v4 r18" (the release only
/// when the boot loader reports one).
std::string BootLoaderText(int version, int release);

/// True when the record holds what the unit told about itself (a unit that
/// never answered leaves card and software at zero).
bool UnitIsKnown(const UnitInfo& unit);

/// The summary line of `unit` at its own address for a job that changes
/// nothing in it: its type and software, and `outcome`.
SummaryLine SummaryLineFor(const UnitInfo& unit, const std::string& outcome);

}  // namespace kel
