#pragma once

#include <cstdint>
#include <string>

namespace kel {

/// The starts of the messages for a value that is no baud rate, unit ID or
/// port number, followed by where it came from and the value as given.
inline constexpr char kNotABaudRate[] = "Not a baud rate: ";
inline constexpr char kNotAUnitId[] = "Not a unit ID (0 to 255): ";
inline constexpr char kNotAPortNumber[] = "Not a port number: ";
/// The largest port number: COM ports are numbered in 16 bits.
inline constexpr int32_t kLastPortNumber = 32767;

/// The options that are live link state: the command line and environment
/// give their starting values, and the link operations (port search, speed
/// changes, proxy switching, finding the unit) overwrite them in place as
/// the link changes. The serial port's LinkSettings refers to these very
/// fields, so after connecting they say where and how the unit answers.
struct LiveLinkOptions {
  int16_t portNumber = 0;           ///< [COM]<port>; 0 = search; then the port the unit is on
  int32_t initialBaudRate = 19200;  ///< -b, environment; then the link's current speed
  int32_t programmingBaudRate = 0;  ///< -r, or derived from -b; 0 = not chosen
  bool evenParity = false;          ///< -p1; then the link's current parity
  uint8_t unitId = 0;               ///< -u<ID>; then the address that answered
};

/// The run settings from the command line, with the live link state above
/// as its base. One instance, owned by main.
struct Options : LiveLinkOptions {
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
  bool initialBaudGiven = false;   ///< -b
  std::string portDevice;          ///< a port named by its device (/dev/ttyUSB0); empty otherwise
  bool listPorts = false;          ///< --list-ports
  bool help = false;               ///< --help
  bool version = false;            ///< --version
  bool plan = false;               ///< --plan: show what an update would do, change nothing
  std::string parameterFile;       ///< [Filename]
  bool manufacturingMode = false;  ///< "KelManufacture" in the parameter file

  /// The fields of the live link state.
  LiveLinkOptions& liveLink() { return *this; }
};

}  // namespace kel
