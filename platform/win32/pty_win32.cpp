#include "platform/pseudo_terminal.h"

namespace kel {

// Windows has no pseudo-terminals; the simulator serves units there only
// in-process, on the in-memory line.
std::unique_ptr<PseudoTerminal> OpenPseudoTerminal(std::string& error) {
  error = "pseudo-terminals are not available on this platform";
  return nullptr;
}

std::vector<size_t> WaitForTerminals(const std::vector<PseudoTerminal*>&, uint32_t) { return {}; }

bool MakeDeviceLink(const std::string&, const std::string&, std::string& error) {
  error = "device links are not available on this platform";
  return false;
}

bool RemoveDeviceLink(const std::string&) { return false; }

std::unique_ptr<LocalComPort> LocalComPort::Open(int, std::string& error) {
  error = "pseudo-terminals are not available on this platform";
  return nullptr;
}

LocalComPort::~LocalComPort() = default;

}  // namespace kel
