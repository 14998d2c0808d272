#include "unit/port_search.h"

#include <algorithm>
#include <string>

#include "link/comm_port.h"
#include "link/port_open_messages.h"
#include "platform/serial_device.h"
#include "runtime/output.h"
#include "runtime/registry_settings.h"
#include "runtime/runtime.h"
#include "runtime/text_format.h"
#include "unit/link_speed.h"
#include "unit/unit_connection.h"
#include "unit/unit_probe.h"

namespace kel {

namespace {

constexpr int kLastScannedPort = 99;
constexpr int32_t kLowestProgrammingRate = 115200;

// The port number fits the link's 16-bit field; larger numbers name no port.
int16_t ClampPort(long long number) {
  return static_cast<int16_t>(std::clamp<long long>(number, -32768, 32767));
}

bool StartsWithCom(const std::string& text) {
  return text.size() > 3 && EqualsIgnoreCase(std::string_view(text).substr(0, 3), "COM");
}

void PrintProgrammerRate(Link& link) {
  link.runtime.out.Print(
      Sink::kDebug, "-- programmer baud rate = ", link.runtime.options.programmingBaudRate, "\r\n");
}

// Opens COM `number` and probes it. The messages for a port that cannot be
// opened go to the info sink; `quietMissing` (the full scan) leaves missing
// ports and unexpected errors unmentioned. A port the user may not open is
// always named, and the way to get access is said once per search
// (`hinted`), so a scan of many such ports stays readable.
bool TryPort(Link& link, UnitInfo& unit, int number, bool quietMissing, bool& hinted) {
  Output& out = link.runtime.out;
  link.runtime.options.portNumber = ClampPort(number);
  const int port = link.runtime.options.portNumber;
  if (link.port.OpenPort()) {
    out.Print(Sink::kInfo, "COM", port, " opened\r\n");
    if (CheckUnitId(link, unit)) return true;
    link.port.ClosePort();
    return false;
  }
  const SerialOpenError& error = link.port.lastOpenError();
  switch (error.outcome) {
    case SerialOpenOutcome::kInUse:
    case SerialOpenOutcome::kBadSetting:
      break;
    case SerialOpenOutcome::kPermissionDenied:
      out.Print(Sink::kInfo, PortOpenMessage(port, error, OpenMessageUse::kSearch), "\r\n");
      if (!hinted) out.Print(Sink::kInfo, PermissionHint(error), "\r\n");
      hinted = true;
      return false;
    default:
      // Most of the 99 ports do not exist; saying so for each would bury the result.
      if (quietMissing) return false;
      break;
  }
  out.Print(Sink::kInfo, PortOpenMessage(port, error, OpenMessageUse::kSearch), "\r\n");
  return false;
}

// The operator's port number: digits (echoed by the console) until any other key.
int ReadPortFromOperator(Runtime& rt) {
  long long number = 0;
  for (;;) {
    const int key = rt.out.ReadPromptKey();
    if (key < '0' || key > '9') break;
    number = std::min<long long>(number * 10 + (key - '0'), 32767);
  }
  return static_cast<int>(number);
}

}  // namespace

std::vector<int> ParsePortList(const std::string& text) {
  std::vector<int> ports;
  std::string list = text;
  while (!list.empty()) {
    if (StartsWithCom(list)) list.erase(0, 3);
    const int port = ClampPort(LeadingDecimal(list));
    if (port == 0) break;
    ports.push_back(port);
    // Blanks before the number belong to it, not to the separators.
    const size_t number = std::min(list.find_first_not_of(" \t"), list.size());
    const size_t separator = list.find_first_of(" ,;", number);
    list.erase(0, separator == std::string::npos ? list.size() : separator + 1);
  }
  return ports;
}

bool SearchEnvironmentPorts(Link& link, UnitInfo& unit) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  out.Print(Sink::kDebug, "Searching environment ports\r\n");
  std::string list = rt.env.Get("PONDERIXPORTLIST");
  if (!list.empty()) {
    out.Print(Sink::kDebug, "   PONDERIXPORTLIST: ", list, "\r\n");
  } else {
    list = rt.env.Get("PONDERIXPORT");
    if (!list.empty()) out.Print(Sink::kDebug, "   PONDERIXPORT    : ", list, "\r\n");
  }
  PrintProgrammerRate(link);
  bool hinted = false;
  for (int port : ParsePortList(list)) {
    if (TryPort(link, unit, port, false, hinted)) return true;
  }
  return false;
}

bool SearchAllPorts(Link& link, UnitInfo& unit) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  out.Print(Sink::kDebug, "Searching all ports\r\n");
  const int remembered =
      ClampPort(LeadingDecimal(ReadRegistryString(rt.registry, kCommPortRegistryPath)));
  PrintProgrammerRate(link);
  bool hinted = false;
  if (remembered != 0) {
    out.Print(Sink::kDebug, "COM", remembered, " loaded from registry\r\n");
    if (TryPort(link, unit, remembered, false, hinted)) return true;
  }
  for (int port = 1; port <= kLastScannedPort; ++port) {
    if (port == remembered) continue;
    if (TryPort(link, unit, port, true, hinted)) {
      WriteRegistryString(rt.registry, kCommPortRegistryPath, std::to_string(port));
      return true;
    }
  }
  return false;
}

void ConnectUnit(Link& link, UnitInfo& unit) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  Options& options = rt.options;

  // The port layer reads the lock folder itself; it is shown here once.
  const std::string lockDir = rt.env.Get("PONDERIXLOCKDIR");
  if (!lockDir.empty()) out.Print(Sink::kInfo, "   PONDERIXLOCKDIR : ", lockDir, "\r\n");

  if (!options.initialBaudGiven) {
    const std::string baud = rt.env.Get("PONDERIXBAUDRATE");
    if (!baud.empty()) {
      out.Print(Sink::kInfo, "   PONDERIXBAUDRATE: ", baud, "\r\n");
      options.initialBaudRate = LeadingDecimal(baud);
      options.initialBaudGiven = true;
      if (options.programmingBaudRate == 0) {
        options.programmingBaudRate = std::max(options.initialBaudRate, kLowestProgrammingRate);
      }
    }
  }

  link.state.bootLoaderAddress = 1;
  SaveConnection(link);
  PrintProgrammerRate(link);

  if (options.portNumber == 0) {
    if (SearchEnvironmentPorts(link, unit) || SearchAllPorts(link, unit)) {
      if (options.overlapped) link.state.overlappedActive = TestCts(link);
      return;
    }
    // A failed probe left the link at a probe speed; the operator's port
    // opens at the starting one.
    options.initialBaudRate = link.state.savedBaudRate;
    options.evenParity = link.state.savedEvenParity;
    out.Print(Sink::kInfo, "-- cannot find a Ponderix unit\r\n");
    // A run that may not ask (-y, a production job) has nobody to answer:
    // it ends as a run whose port holds no unit does.
    if (options.yesToPrompts || options.manufacturingMode) rt.FatalError(kCannotConnect);
    out.Print(Sink::kConsole, "Please enter COM port number (1,2,3...): ");
    options.portNumber = ClampPort(ReadPortFromOperator(rt));
    out.Print(Sink::kConsole, "\r\n");
    out.Print(Sink::kDebug, "-- COM", options.portNumber, " entered by user\r\n");
  }

  const int port = options.portNumber;
  if (!link.port.OpenPort()) {
    const SerialOpenError& error = link.port.lastOpenError();
    // A missing port only is said; the connection step then fails.
    if (error.outcome != SerialOpenOutcome::kNotPresent) {
      rt.FatalError(PortOpenMessage(port, error, OpenMessageUse::kFatal));
    }
    out.Print(Sink::kInfo, PortOpenMessage(port, error, OpenMessageUse::kSearch), "\r\n");
    return;
  }
  out.Print(Sink::kInfo, "COM", port, " opened\r\n");
  CheckUnitId(link, unit);
  if (options.overlapped) link.state.overlappedActive = TestCts(link);
}

}  // namespace kel
