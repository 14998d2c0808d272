#pragma once

// Scenario texts for the unit simulator, shared by the tests that talk to
// simulated units in process and by the end-to-end runs.

#include <map>
#include <string>

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

/// A KT3 at address 4 keeping a configuration log and two debug logs, with
/// a test jig at 2, a KT5 at 7 keeping a crash log, a KT5 at 9 keeping a
/// configuration log and a KT5 at 11 whose software 6.00 keeps no logs.
inline constexpr char kKt3NetworkWithLogs[] = R"(
[unit kt3]
place = connected
card = 648
software = 6.10r57
modbus = 4
address = 4
serial = 1234
product = 2
info = Mixer
debug-logs = 0x220 0x221
file = 1 0x131 config of the mixer\nline two
file = 1 0x220 debug one
file = 1 0x221 debug two
[unit jig]
place = network
card = 652
modbus = 2
info = Jig
[unit left]
place = network
card = 659
modbus = 7
serial = 77
info = Left silo
file = 1 0x10F crash left
[unit right]
place = network
card = 659
modbus = 9
serial = 99
info = Right silo
file = 1 0x131 right config
[unit old]
place = network
card = 659
software = 6.00r05
modbus = 11
serial = 11
info = Old silo
file = 1 0x131 never read
)";

/// The files -x saves from kKt3NetworkWithLogs, by name, with their contents.
inline std::map<std::string, std::string> Kt3NetworkLogFiles() {
  return {
      {"ConfigurationLog_04 PX2 KT3 1234.txt", "config of the mixer\r\nline two"},
      {"DebugLog_04 PX2 KT3 1234.txt", "debug one\r\ndebug two\r\n"},
      {"CrashLog_07 PX0 KT5 77.txt", "crash left"},
      {"ConfigurationLog_09 PX0 KT5 99.txt", "right config"},
  };
}

}  // namespace kel
