#pragma once

#include <cstdint>
#include <string>

namespace kel {

/// The run settings from the command line (and, for the baud fields and
/// unitId, from the connection step). One instance, owned by main.
struct Options {
  bool interrogate = false;        ///< -i
  bool extractLogs = false;        ///< -x
  bool yesToPrompts = false;       ///< -y
  bool verify = false;             ///< -v
  bool silent = false;             ///< -s
  bool writeAlways = false;        ///< -w
  bool updateBootLoader = false;   ///< -l
  bool firstUnitOnly = false;      ///< -f
  bool debug = false;              ///< -d (also -dd)
  bool detailedDebug = false;      ///< -dd
  bool overlapped = false;         ///< -o
  bool unitIdGiven = false;        ///< -u<ID>
  uint8_t unitId = 0;              ///< -u<ID>; later the address that answered
  int32_t initialBaudRate = 19200; ///< -b, environment; the link's current speed
  bool initialBaudGiven = false;
  int32_t programmingBaudRate = 0; ///< -r, or derived from -b; 0 = not chosen
  bool evenParity = false;         ///< -p1
  int16_t portNumber = 0;          ///< [COM]<port>; 0 = search
  std::string parameterFile;       ///< [Filename]
  bool manufacturingMode = false;  ///< "KelManufacture" in the parameter file
};

}  // namespace kel
