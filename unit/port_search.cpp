#include "unit/port_search.h"

#include <algorithm>
#include <string>

#include "link/adapter_latency.h"
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

// A port number, or 0 (no port) for a number that names none: below 1, or
// past the link's 16-bit port numbers.
int16_t PortNumberOf(int32_t number) {
  return number >= 1 && number <= kLastPortNumber ? static_cast<int16_t>(number) : 0;
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
// always named, once, and the way to get access is said once (`refused`),
// so a scan of many such ports stays readable.
bool TryPort(Link& link, UnitInfo& unit, int number, bool quietMissing, RefusedPortNotes& refused) {
  Output& out = link.runtime.out;
  link.runtime.options.portNumber = PortNumberOf(number);
  const int port = link.runtime.options.portNumber;
  if (link.port.OpenPort()) {
    out.Print(Sink::kInfo, PortLabel(link, port), " opened\r\n");
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
      if (std::find(refused.named.begin(), refused.named.end(), port) != refused.named.end()) {
        return false;
      }
      refused.named.push_back(port);
      out.Print(Sink::kInfo, PortOpenMessage(PortLabel(link, port), error, OpenMessageUse::kSearch),
                "\r\n");
      if (!refused.hinted) out.Print(Sink::kInfo, PermissionHint(error), "\r\n");
      refused.hinted = true;
      return false;
    default:
      // Most of the 99 ports do not exist; saying so for each would bury the result.
      if (quietMissing) return false;
      break;
  }
  out.Print(Sink::kInfo, PortOpenMessage(PortLabel(link, port), error, OpenMessageUse::kSearch),
            "\r\n");
  return false;
}

// The operator's port number: digits (echoed by the console) until any
// other key; no digits are port 0. Digits that name no port end the run.
int16_t ReadPortFromOperator(Runtime& rt) {
  std::string digits;
  for (;;) {
    const int key = rt.out.ReadPromptKey();
    if (key < '0' || key > '9') break;
    digits += static_cast<char>(key);
  }
  int32_t number = 0;
  if (!digits.empty() && !LeadingDecimalIn(digits, 0, kLastPortNumber, number)) {
    rt.FatalError(kNotAPortNumber + digits);
  }
  return static_cast<int16_t>(number);
}

// The ports a full scan tries: the system's, as the opener lists them,
// without the Bluetooth ones (each may hold the open for seconds while the
// system pages a remote device; they are tried only when named); every
// number 1..99 where the opener keeps no list.
std::vector<int> PortsToScan(SerialPortOpener& opener) {
  std::vector<int> numbers;
  std::vector<PortListing> listed;
  if (!opener.ListPorts(listed)) {
    for (int port = 1; port <= kLastScannedPort; ++port) numbers.push_back(port);
    return numbers;
  }
  for (const PortListing& port : listed) {
    if (!port.bluetooth) numbers.push_back(port.number);
  }
  return numbers;
}

// A USB adapter whose driver holds received bytes for long makes every
// exchange wait that long; said once, when the unit's port is known, with
// where to change it.
void NoteAdapterLatency(Link& link) {
  uint32_t ms = 0;
  std::string setting;
  const int port = link.runtime.options.portNumber;
  if (!link.port.opener().AdapterLatency(port, ms, setting)) return;
  const std::string note = AdapterLatencyNote(port, ms, setting);
  if (!note.empty()) link.runtime.out.Print(Sink::kInfo, note, "\r\n");
}

}  // namespace

std::string PortLabel(Link& link, int port) { return link.port.PortLabel(port); }

std::vector<int> ParsePortList(const std::string& text,
                               const std::function<int(const std::string&)>& numberForDevice) {
  std::vector<int> ports;
  std::string list = text;
  while (!list.empty()) {
    const size_t start = std::min(list.find_first_not_of(" \t"), list.size());
    if (numberForDevice && start < list.size() && list[start] == '/') {
      const size_t end = list.find_first_of(" ,;", start);
      const std::string device = list.substr(start, end == std::string::npos ? end : end - start);
      const int port = PortNumberOf(numberForDevice(device));
      if (port == 0) break;
      ports.push_back(port);
      list.erase(0, end == std::string::npos ? list.size() : end + 1);
      continue;
    }
    // Windows names a port's device \\.\COMn; it means COMn.
    if (list.rfind("\\\\.\\", 0) == 0) list.erase(0, 4);
    if (StartsWithCom(list)) list.erase(0, 3);
    const int port = PortNumberOf(LeadingDecimal(list));
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
  RefusedPortNotes refused;
  return SearchEnvironmentPorts(link, unit, refused);
}

bool SearchEnvironmentPorts(Link& link, UnitInfo& unit, RefusedPortNotes& refused) {
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
  SerialPortOpener& opener = link.port.opener();
  const auto numberForDevice = [&](const std::string& device) {
    return opener.NumberForDevice(device);
  };
  for (int port : ParsePortList(list, numberForDevice)) {
    if (TryPort(link, unit, port, false, refused)) return true;
  }
  return false;
}

bool SearchAllPorts(Link& link, UnitInfo& unit) {
  RefusedPortNotes refused;
  return SearchAllPorts(link, unit, refused);
}

bool SearchAllPorts(Link& link, UnitInfo& unit, RefusedPortNotes& refused) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  out.Print(Sink::kDebug, "Searching all ports\r\n");
  const int remembered =
      PortNumberOf(LeadingDecimal(ReadRegistryString(rt.registry, kCommPortRegistryPath)));
  PrintProgrammerRate(link);
  if (remembered != 0) {
    out.Print(Sink::kDebug, "COM", remembered, " loaded from registry\r\n");
    if (TryPort(link, unit, remembered, false, refused)) return true;
  }
  for (int port : PortsToScan(link.port.opener())) {
    if (port == remembered) continue;
    if (TryPort(link, unit, port, true, refused)) {
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
      // Read as -b reads its value; anything else would only make every
      // port refuse the speed.
      int32_t rate = 0;
      if (!LeadingDecimalIn(baud, 1, INT32_MAX, rate)) {
        rt.FatalError(kNotABaudRate + std::string("PONDERIXBAUDRATE=") + baud);
      }
      options.initialBaudRate = rate;
      options.initialBaudGiven = true;
      if (options.programmingBaudRate == 0) {
        options.programmingBaudRate = std::max(options.initialBaudRate, kLowestProgrammingRate);
      }
    }
  }

  link.state.bootLoaderAddress = 1;
  SaveConnection(link);
  PrintProgrammerRate(link);

  // A port named by its device opens by the number its opener gives it.
  if (!options.portDevice.empty()) {
    options.portNumber = PortNumberOf(link.port.opener().NumberForDevice(options.portDevice));
    if (options.portNumber == 0) {
      rt.FatalError(options.portDevice + " cannot be opened by its device on this computer");
    }
  }

  if (options.portNumber == 0) {
    RefusedPortNotes refused;
    if (SearchEnvironmentPorts(link, unit, refused) || SearchAllPorts(link, unit, refused)) {
      NoteAdapterLatency(link);
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
    options.portNumber = ReadPortFromOperator(rt);
    out.Print(Sink::kConsole, "\r\n");
    out.Print(Sink::kDebug, "-- COM", options.portNumber, " entered by user\r\n");
  }

  const int port = options.portNumber;
  if (!link.port.OpenPort()) {
    const SerialOpenError& error = link.port.lastOpenError();
    // A missing port only is said; the connection step then fails.
    if (error.outcome != SerialOpenOutcome::kNotPresent) {
      rt.FatalError(PortOpenMessage(PortLabel(link, port), error, OpenMessageUse::kFatal));
    }
    out.Print(Sink::kInfo, PortOpenMessage(PortLabel(link, port), error, OpenMessageUse::kSearch),
              "\r\n");
    return;
  }
  out.Print(Sink::kInfo, PortLabel(link, port), " opened\r\n");
  NoteAdapterLatency(link);
  CheckUnitId(link, unit);
  if (options.overlapped) link.state.overlappedActive = TestCts(link);
}

}  // namespace kel
