#pragma once

#include <cstdint>
#include <vector>

#include "link/link_state.h"
#include "runtime/output.h"
#include "unit/unit_info.h"

namespace kel {

/// The KJ3 test jig's card: it forwards to the unit on its second port and
/// never appears in a unit table.
inline constexpr uint16_t kTestJigCard = 652;

/// A fresh record for the application software of the unit at `address`
/// behind the connected one.
UnitInfo RemoteRecord(uint8_t address);

/// One row of a unit table: the address right-aligned in four columns, then
/// the unit's information text.
void PrintUnitTableRow(Output& out, uint8_t address, const UnitInfo& unit);

/// Lists the units behind the connected one and prints the unit table
/// ("Ponderix Unit(s) found:", one row per answering unit in address order
/// with the connected unit at its Modbus address, a blank line). Only for
/// application software 6.00 or later; false when there is nothing to list.
/// With `toProgrammingSpeed` the unit and the link move to the programming
/// speed before the table is printed ("Unable to change baud rate" if not).
/// `table` gets the addresses in the order shown.
bool ListUnits(Link& link, UnitInfo& connected, std::vector<uint8_t>& table,
               bool toProgrammingSpeed = false);

/// True, silently, when the remote unit can take update files. Otherwise
/// prints its report and the reason and returns false.
bool CheckRemoteUpdate(Output& out, const UnitInfo& unit);

/// Looks behind the connected unit for exactly one unit of `unitType` with
/// one of the two MCU types (a test jig's control display at address 60 is
/// passed over). True when one was found and can take a remote update; its
/// record is copied to `found`. Two matches end the run.
bool SearchForMatchingRemoteUnit(Link& link, UnitInfo& connected, uint8_t unitType, int8_t mcuA,
                                 int8_t mcuB, UnitInfo& found);

/// Through a connected KJ3 test jig (software above 6.05): switches the jig
/// into proxy mode and connects to the unit on its second port. True when
/// that unit matches; the proxy is then left on for the caller to switch
/// off (TurnProxyOff, CloseKelUpdaterProxy). Otherwise the proxy is closed
/// again and false returned.
bool SearchForMatchingProxyUnit(Link& link, UnitInfo& connected, uint8_t unitType, int8_t mcuA,
                                int8_t mcuB, UnitInfo& found);

/// SearchForMatchingProxyUnit for whatever unit is on the jig's second
/// port (a test jig there is not taken).
bool SearchForProxyUnit(Link& link, UnitInfo& connected, UnitInfo& found);

/// Whether `unit` is of `unitType` with MCU type `mcuA` or `mcuB` (never 0).
bool MatchesProduct(const UnitInfo& unit, uint8_t unitType, int8_t mcuA, int8_t mcuB);

}  // namespace kel
