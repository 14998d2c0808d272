#include "link/port_open_messages.h"

namespace kel {

namespace {

constexpr char kNotPresent[] = " is not present on this computer";
constexpr char kInUse[] = " is being used by another application";
constexpr char kBadRate[] = " does not support requested baud rate";
// Serial devices usually belong to this group on Debian and its kin.
constexpr char kUsualSerialGroup[] = "dialout";

}  // namespace

std::string PermissionHint(const SerialOpenError& error) {
  if (!error.deviceOwner.empty()) {
    return "To use it, ask an administrator for access to it (it belongs to " + error.deviceOwner +
           ")";
  }
  if (error.deviceGroup.empty()) {
    return std::string(
               "To use it, add the user to the group that owns it (for example: sudo "
               "usermod -aG ") +
           kUsualSerialGroup + " $USER) and log in again";
  }
  return "To use it, add the user to the group " + error.deviceGroup +
         " that owns it (sudo usermod -aG " + error.deviceGroup + " $USER) and log in again";
}

std::string PortOpenMessage(int port, const SerialOpenError& error, OpenMessageUse use) {
  const std::string com = "COM" + std::to_string(port);
  switch (error.outcome) {
    case SerialOpenOutcome::kNotPresent:
      return com + kNotPresent;
    case SerialOpenOutcome::kInUse:
      return com + kInUse;
    case SerialOpenOutcome::kBadSetting:
      return com + kBadRate;
    case SerialOpenOutcome::kPermissionDenied: {
      std::string text = com + " cannot be opened: " + error.systemText + " (" + error.device + ")";
      if (use != OpenMessageUse::kSearch) text += ". " + PermissionHint(error);
      return text;
    }
    case SerialOpenOutcome::kOpened:
    case SerialOpenOutcome::kOther:
      break;
  }
  switch (use) {
    case OpenMessageUse::kTrace:
      return com + ":" + std::to_string(error.systemCode) + ":" + "Error: " + error.systemText;
    case OpenMessageUse::kSearch:
      return com + " ERROR: " + "Error: " + error.systemText;
    case OpenMessageUse::kFatal:
      break;
  }
  return com + " ERROR:" + "Error: " + error.systemText;
}

}  // namespace kel
