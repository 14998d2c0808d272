// What the benchmarks of whole updates share: the updater as main sets it
// up for a run on COM1 (quiet, -y, the update session with its transfer and
// file layers), and the scenarios they run it on.
#pragma once

#include <cstdint>
#include <string>

#include "files/remote_file_access.h"
#include "flash/boot_tool_programmer.h"
#include "flash/transfer_state.h"
#include "link/comm_port.h"
#include "link/packet_layer.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/process_exit.h"
#include "platform/registry.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "update/update_session.h"

namespace kel::bench {

/// The port of every scenario: COM1 with the line model.
inline constexpr char kLineModelPort[] = "[port]\nnumber = 1\nline-model = yes\n";

/// The demo network: a KD4 display with two KT5 transmitters at 6.08.
inline std::string DemoScenario() {
  return std::string(kLineModelPort) +
         "[unit kd4]\nplace = connected\ncard = 653\ncircuit = 2\nsoftware = 6.08r12\nbuild = 1\n"
         "modbus = 10\nboot-loader = 4r18\nrestart-ms = 300\nnot-ready-ms = 1500\n"
         "[unit kt5-left]\nplace = network\ncard = 659\nsoftware = 6.08r12\nmodbus = 3\n"
         "boot-loader = 4r18\n"
         "[unit kt5-right]\nplace = network\ncard = 659\nsoftware = 6.08r12\nmodbus = 12\n"
         "boot-loader = 4r18\n";
}

/// The updater as main sets it up for a plain run on COM1, quiet, with -y,
/// programming at `baud`.
struct SessionUpdater {
  SessionUpdater(Clock& clock, SerialPortOpener& ports, int32_t baud)
      : out(console, clock, options),
        runtime{options, out, clock, console, env, registry, exit, {}},
        port(runtime, ports) {
    options.portNumber = 1;
    options.yesToPrompts = true;
    options.programmingBaudRate = baud;
    out.errorReportLevel = 1;
  }

  Options options;
  ScriptedConsole console;
  Output out;
  MapEnvironment env;
  MapRegistry registry;
  ThrowingExit exit;
  Runtime runtime;
  CommPort port;
  ProxySettings proxy;
  PacketLayer packets{runtime, port, proxy};
  LinkState state;
  Link link{runtime, port, packets, state};
  TransferState transfer{options};
  RemoteFileAccess files{link};
  BootToolProgrammer bootToolProgrammer;
  UpdateSession session{link, transfer, files, bootToolProgrammer};
  UnitInfo unit;
};

}  // namespace kel::bench
