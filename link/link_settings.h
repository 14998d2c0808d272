#pragma once

#include <cstdint>
#include <string>

#include "runtime/options.h"

namespace kel {

/// The settings of the serial link. The port number, current speed,
/// programmer speed and parity flag are the very fields of the options' live
/// link state (the command line sets their starting values and the link
/// operations change them in place); the rest belongs to the link alone.
struct LinkSettings {
  explicit LinkSettings(LiveLinkOptions& options)
      : portNumber(options.portNumber),
        baudRate(options.initialBaudRate),
        programmerBaudRate(options.programmingBaudRate),
        evenParity(options.evenParity) {}
  LinkSettings(const LinkSettings&) = delete;
  LinkSettings& operator=(const LinkSettings&) = delete;

  int16_t& portNumber;          ///< the n of COM n
  int32_t& baudRate;            ///< the line's current speed
  int32_t& programmerBaudRate;  ///< speed while a flash programmer runs; 0 = none
  bool& evenParity;             ///< false = no parity, true = even parity (never odd)
  bool hardwareHandshake = false;  ///< transmitter waits for CTS; takes effect at the next open
  uint8_t stopBits = 2;            ///< always 2
  uint32_t receiveTimeoutMs = 100; ///< overall wait of ReceiveBlock and ReadCommPortExact
  std::string lockFilePath;        ///< the lock marker this run created; empty otherwise
};

}  // namespace kel
