#pragma once

#include <cstdint>
#include <functional>

namespace kel {

struct Runtime;
class CommPort;
class PacketLayer;

/// Reply timeouts in milliseconds. Each retry of a remote call is paced by
/// the timeout in force, so these also set how long a failing call takes.
constexpr uint32_t kFastTimeoutMs = 50;          ///< quick probing of a direct link
constexpr uint32_t kFastProxyTimeoutMs = 100;    ///< quick probing through a proxy (two hops)
constexpr uint32_t kNormalTimeoutMs = 100;       ///< probing and retries
constexpr uint32_t kLongTimeoutMs = 1000;        ///< normal work once a link change is confirmed

/// The speed, proxy and addressing state that link changes and remote calls
/// share. One per run, owned by main; a test makes a fresh one.
struct LinkState {
  /// The quick-probe timeout: kFastTimeoutMs, or kFastProxyTimeoutMs while
  /// the proxy is on.
  uint32_t fastTimeoutMs = kFastTimeoutMs;

  /// The connection on which the unit was found (SaveConnection).
  int32_t savedBaudRate = 19200;
  bool savedEvenParity = false;

  /// What TurnProxyOff restores: the link and unitId from before the proxy.
  int32_t keptBaudRate = 0;
  bool keptEvenParity = false;
  uint8_t keptUnitId = 0;

  /// Where boot-loader and flash-programmer requests go. The connection
  /// step sets it to 1, the address at which every boot loader answers.
  uint8_t bootLoaderAddress = 1;

  /// The connected unit's software is 6.04 or later and takes the
  /// acknowledged file blocks (set by the connection step).
  bool software604OrLater = false;
  /// Overlapped programming was asked for and the unit raised CTS.
  bool overlappedActive = false;
  /// Programming goes through a proxy: chunks into the unit's buffer, then
  /// one commit.
  bool bufferedTransfer = false;

  /// Where the connected unit belongs at the end of the run: the speed and
  /// parity it was found at, or those an earlier run's note names (set by
  /// SpeedScope; 0 when nothing keeps them).
  int32_t homeBaudRate = 0;
  bool homeEvenParity = false;

  /// The unit this run took out of its software, for the way out of the
  /// run to restart: 2 while the run has it in its boot loader, 3 while its
  /// flash programmer runs (the unit record's modes), 0 when there is
  /// nothing to restart (never taken out, or restarted since).
  uint8_t unitLeftIn = 0;
  /// The boot loader is being written (or was cut short): the unit's boot
  /// region may not hold a whole boot loader, so it must not be restarted
  /// or switched off until a whole one is written.
  bool bootRegionIncomplete = false;

  /// Called with the unit's address and the new speed just before a speed
  /// change is asked of a unit, and whether it goes through a proxy
  /// (SpeedScope notes the connected unit's found speed there first);
  /// empty when nothing listens.
  std::function<void(uint8_t address, bool throughProxy, int32_t baudRate)> beforeUnitSpeedChange;
};

/// The pieces every link operation and remote call works with, bundled so
/// each call takes one argument. All are owned elsewhere (by main or a test).
struct Link {
  Runtime& runtime;
  CommPort& port;
  PacketLayer& packets;
  LinkState& state;
};

}  // namespace kel
