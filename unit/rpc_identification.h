#pragma once

#include <cstdint>

#include "link/link_state.h"
#include "unit/unit_info.h"

namespace kel {

/// The identification calls. Each returns true on a valid reply and stores
/// its results in the record; a failed call leaves the record as it was
/// (ReadBootLoaderRelease excepted, see there). Traces go to DebugSink.

/// One ping exchange [address, "A"] answered by [address, "B"]; no trace.
bool Ping(Link& link, uint8_t address);

/// One exchange of 0x1010 at the unit address: card number, circuit code,
/// software version, and the build increment (software 6.00 or later) or the
/// product word (earlier software).
bool ReadBasicInfo(Link& link, UnitInfo& unit);

/// Up to 4 ReadBasicInfo exchanges, then the card table sets MCU type and
/// unit type. A card outside the table ends the run ("Unsupported Card
/// Number: " + number).
bool ReadUnitInfo(Link& link, UnitInfo& unit);

/// The boot loader's version byte (high four bits MCU type, low four bits
/// version), one exchange at the boot-loader address.
bool ReadBootLoaderVersion(Link& link, UnitInfo& unit);

/// The boot loader's information, up to 3 attempts. When it never answers,
/// the MCU type, boot-loader version and release are derived from the
/// version byte (flags and info byte 0) and false is returned.
bool ReadBootLoaderRelease(Link& link, UnitInfo& unit);

/// The whole identity of application software 6.00 or later (false without
/// a request for other units); sets the boot flags to 2.
bool ReadAdvancedInfo(Link& link, UnitInfo& unit);

/// Serial number and build time of application software 2.20 or later
/// (false without a request otherwise); reads the information text too when
/// the unit says it has one.
bool ReadExtendedInfo(Link& link, UnitInfo& unit);

/// The unit's information text of `length` bytes; control characters are
/// stored as ":".
bool ReadInformationText(Link& link, UnitInfo& unit, uint8_t length);

/// The unit's Modbus address, asked at the record's unit address.
bool GetModbusAddress(Link& link, UnitInfo& unit);

/// True when the unit sits on a USB virtual COM port. Only application
/// software 6.06 or later knows the call; for any other unit false without a
/// request.
bool IsVComPort(Link& link, const UnitInfo& unit);

}  // namespace kel
