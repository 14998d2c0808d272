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

std::string PortOpenMessage(const std::string& com, const SerialOpenError& error,
                            OpenMessageUse use) {
  switch (error.outcome) {
    case SerialOpenOutcome::kNotPresent:
      return com + kNotPresent;
    case SerialOpenOutcome::kInUse:
      return com + kInUse;
    case SerialOpenOutcome::kBadSetting:
      return com + kBadRate;
    case SerialOpenOutcome::kPermissionDenied: {
      // The device is said once, where the port's name does not already say it.
      const std::string device = " (" + error.device + ")";
      std::string text = com + " cannot be opened: " + error.systemText +
                         (com.find(device) == std::string::npos ? device : "");
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
