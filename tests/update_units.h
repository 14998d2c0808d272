#pragma once

// Scenario texts of units to update, shared by the in-process update tests
// and the end-to-end runs.

namespace kel {

/// A KT3 transmitter (LPC1768) at 5.90 on its own, at address 4: a plain
/// run updates it directly.
inline constexpr char kOldKt3[] = R"(
[unit kt3]
place = connected
card = 648
circuit = 1
mcu = LPC1768
software = 5.90r10
boot-loader = 4r18
modbus = 4
address = 4
info = Old mixer
buffer-size = 8192
)";

/// A KD4 display at 6.08 at address 10 with two KT5 transmitters at 6.08
/// behind it (addresses 3 and 12): a plain run sends all three update files.
inline constexpr char kKd4WithTwoKt5[] = R"(
[unit kd4]
place = connected
card = 653
software = 6.08r12
build = 1
modbus = 10
boot-loader = 4r18
info = Weighbridge
restart-ms = 300
not-ready-ms = 500
[unit left]
place = network
card = 659
software = 6.08r12
modbus = 3
boot-loader = 4r18
info = Left load cells
[unit right]
place = network
card = 659
software = 6.08r12
modbus = 12
boot-loader = 4r18
info = Right load cells
)";

}  // namespace kel
