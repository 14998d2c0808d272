#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/file_store.h"
#include "sim/flash_memory.h"
#include "sim/sim_ram.h"
#include "sim/unit_inbox.h"
#include "sim/unit_timing.h"

namespace kel::sim {

class SimNetwork;

/// Who answers on a unit's serial line right now.
enum class SimRole : uint8_t {
  kApplication,  ///< the unit's software: own address and F0
  kBootLoader,   ///< the boot loader at address 1
  kProgrammer,   ///< the flash programmer started from RAM
  kBlankChip,    ///< a blank LPC chip's ISP ROM (text handshake)
};

/// What set off a unit's restart.
enum class RestartCause : uint8_t {
  kRequest,     ///< a request the unit was sent (Reset, ResetSystem, GotoBootLoader, ...)
  kFault,       ///< a planned fault: the unit restarted by itself, or lost its power
  kPowerCycle,  ///< switched off and on from outside (the control channel, a test)
};

/// How the unit drives CTS once the port is open.
enum class CtsBehaviour : uint8_t {
  kLow,         ///< never raised
  kHigh,        ///< raised at once
  kAfterDelay,  ///< raised `ctsDelayMs` after the port opens
};

/// One simulated unit: the identity from the scenario and the state the
/// roles change. Role handlers receive it by reference; the network core
/// owns it and applies speed changes and restarts the handlers ask for.
struct SimUnit {
  // ---- identity (scenario) ----
  std::string name;  ///< label used in listings and transcripts
  uint16_t cardNumber = 659;
  uint16_t circuitCode = 1;
  uint8_t suffixLetter = 0;  ///< 0 none, 1 "A", ...
  uint8_t suffixNumber = 0;
  uint16_t productWord = 0;
  int16_t softwareVersion = 610;  ///< hundredths: 610 is 6.10
  uint8_t softwareRelease = 57;
  int8_t buildIncrement = 0;
  int32_t serialNumber = 1;
  uint8_t modbusAddress = 1;
  uint8_t unitAddress = 1;                               ///< address the application answers at
  uint8_t unitFlags = 0x01;                              ///< bit 0: accepts update files
  std::array<uint8_t, 6> buildTime{26, 1, 1, 12, 0, 0};  ///< yy mm dd hh mm ss
  std::string informationText;
  std::vector<uint16_t> debugLogFiles;  ///< file numbers reported by GetDebugLogs
  uint8_t bootInfoByte = 1;
  /// The boot loader the unit reports: the scenario's until its boot region
  /// is rewritten, then what the region holds (boot_region.h).
  uint8_t bootLoaderVersion = 4;
  uint8_t bootLoaderRelease = 14;
  uint8_t bootFlags = 0x02;
  uint16_t bufferSize = 1024;  ///< the boot loader's GetBufferSize answer and transfer buffer
  uint16_t programmerBufferSize = 0;  ///< the programmer's; 0 = the same as the boot loader's
  uint8_t mcuType = 6;
  uint32_t softwareChecksum = 0;  ///< reported while the flash holds no software
  uint16_t softwareCrc = 0;
  /// What the application reports now: computed from the flash at power-on
  /// and after each restart (the scenario's values while the flash is empty).
  uint32_t reportedChecksum = 0;
  uint16_t reportedCrc = 0;
  bool vcom = false;  ///< USB virtual COM port
  CtsBehaviour cts = CtsBehaviour::kLow;
  uint32_t ctsDelayMs = 0;
  uint32_t restartMs = 300;    ///< silent time of a restart
  uint32_t notReadyMs = 1000;  ///< after a restart the readiness poll says "not ready"
  UnitTiming timing;           ///< processing times while the line model runs

  // ---- line ----
  int32_t applicationBaud = 19200;  ///< the application's own line speed
  bool applicationEvenParity = false;
  int32_t baudRate = 19200;  ///< current line speed
  bool evenParity = false;   ///< current parity
  /// A handler that moves the line sets these; the core applies them after
  /// the reply has left at the old speed. 0 = no change.
  int32_t nextBaudRate = 0;
  bool nextEvenParity = false;
  /// The boot loader and a blank chip's ROM find the speed from the first
  /// bytes: they answer at 9600 or 115200 (any speed for the ROM) until a
  /// speed is set explicitly.
  bool autoBaud = false;

  // ---- role and restart ----
  SimRole startRole = SimRole::kApplication;
  SimRole role = SimRole::kApplication;
  bool ispSynchronized = false;  ///< blank chip: "?" handshake done
  bool ispAutobaudSeen = false;  ///< blank chip: "?" answered, waiting for "Synchronized"
  bool ispFrequencySet = false;  ///< blank chip: crystal frequency line received
  std::string ispInput;          ///< blank chip: text line being received
  /// A handler that restarts the unit sets `restartRequested` and the role
  /// to come up in; the core makes the unit silent for `restartMs` and then
  /// switches role, line speed and applies pending update files.
  bool restartRequested = false;
  SimRole restartRole = SimRole::kApplication;
  RestartCause restartCause = RestartCause::kRequest;
  /// ResetSystem: every unit on the network restarts into its software.
  bool networkRestartRequested = false;
  bool restarting = false;  ///< silent until `restartDoneAt`
  /// After a power cycle the boot loader listens until this tick before it
  /// starts the software; a request heard by then keeps it in charge. 0: none.
  uint32_t bootWindowUntil = 0;
  uint32_t restartDoneAt = 0;
  uint32_t readyAt = 0;  ///< readiness poll answers ready from this tick
  /// The application software is in flash. Starts true (the scenario's
  /// software is installed); checked again at each restart after the
  /// programmer erased or wrote the software area. Without it a restart
  /// comes up in the boot loader, with boot flag bit 0 set.
  bool softwarePresent = true;
  uint32_t now = 0;  ///< tick of the request being handled
  /// While the line model runs: the unit works on one request at a time
  /// until this time (microseconds on the network's clock); requests that
  /// arrive meanwhile wait in its receive buffer.
  uint64_t busyUntilUs = 0;
  UnitInbox inbox;             ///< requests received and not yet finished with
  uint64_t silentUntilUs = 0;  ///< a silence fault: deaf and mute until then

  // ---- memory ----
  FlashMemory flash;
  /// The boot region was erased or written since power-on (or since the
  /// control channel gave the unit a boot loader): from then on its
  /// contents decide whether the chip starts a boot loader at all.
  bool bootRegionTouched = false;
  /// Set at the restart that first found the boot region without a whole
  /// boot loader: what set that restart off (a test tells a unit a program
  /// bricked from one that lost its power in the middle of the write).
  bool bootLoaderLost = false;
  RestartCause bootLoaderLostBy = RestartCause::kRequest;
  FlashSession flashSession;  ///< the running programmer's state; cleared by a restart
  FileStore files;
  SimRam ram;                 ///< bytes written to RAM by write memory
  uint32_t programStart = 0;  ///< Transfer to RAM program address
  uint8_t programmerVersionMajor = 3;
  uint8_t programmerVersionMinor = 0;
  uint8_t programmerConfig = 0;
  std::vector<uint8_t> scratch;  ///< programmer's buffered-chunk area
  /// Non-zero: the unit's flash has failed and every flash and file write
  /// answers this result code (reads report failure).
  uint8_t hardwareFailure = 0;
  /// The programmer answers some windowed writes late, so acknowledgements
  /// arrive out of order.
  bool windowedRepliesLate = false;

  // ---- network ----
  SimNetwork* network = nullptr;  ///< the port's network this unit sits on
  bool connected = false;         ///< wired to the port (not behind another unit)
  bool isJig = false;             ///< KJ3 test jig: proxies to its second port
  uint8_t jigPortNumber = 2;      ///< the jig's port the unit behind it hangs on
  bool proxyOpen = false;         ///< OpenKelUpdaterProxy received
  int32_t proxyBaud = 115200;     ///< jig's link to the unit behind it
};

}  // namespace kel::sim
