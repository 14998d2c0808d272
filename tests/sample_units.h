#pragma once

// Scenario texts for the unit simulator, shared by the tests that talk to
// simulated units in process and by the end-to-end runs.

namespace kel {

/// A KT5 transmitter at 6.10r57 on its own, at Modbus address 5.
inline constexpr char kLoneKt5[] = R"(
[unit kt5]
place = connected
card = 659
software = 6.10r57
modbus = 5
address = 5
serial = 4711
info = Silo 5
)";

/// A KT3 transmitter at 6.10r57 at address 4 with two KT5 transmitters behind it.
inline constexpr char kKt3WithTwoRemotes[] = R"(
[unit kt3]
place = connected
card = 648
circuit = 3
software = 6.10r57
boot-loader = 4r18
modbus = 4
address = 4
info = Mixer
[unit left]
place = network
card = 659
software = 6.10r57
boot-loader = 4r18
modbus = 7
address = 7
info = Left silo
[unit right]
place = network
card = 659
software = 6.10r57
boot-loader = 4r18
modbus = 9
address = 9
info = Right silo
)";

}  // namespace kel
