#include "flash/programmer_speed.h"

#include <algorithm>
#include <array>

#include "link/comm_port.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "unit/link_speed.h"
#include "unit/rpc_boot_loader.h"
#include "unit/rpc_call.h"

namespace kel {

namespace {

constexpr std::array<int32_t, 9> kOldSpeeds = {9600,   19200,  38400,  57600, 115200,
                                               128000, 230400, 460800, 921600};
constexpr std::array<int32_t, 8> kSpeeds = {9600,   19200,  38400,  57600,
                                            115200, 230400, 460800, 921600};
constexpr uint8_t kFallbackCode = 5;  // 115200 in both tables
constexpr int kSpeedAttempts = 16;
constexpr int kFirstReleaseWithNewCommand = 11;
constexpr int32_t kSlowSpeed = 9600;

void ChangeOrFail(Link& link, int32_t baud, bool evenParity, uint32_t timeoutMs) {
  if (!ChangePacketBaudRate(link, baud, evenParity, timeoutMs)) {
    link.runtime.FatalError("Unable to change baudrate");
  }
}

}  // namespace

std::span<const int32_t> ProgrammerSpeeds(bool oldCodes) {
  if (oldCodes) return kOldSpeeds;
  return kSpeeds;
}

bool SetProgrammerSpeed(Link& link, const UnitInfo& unit, int32_t baud, bool oldCodes) {
  Output& out = link.runtime.out;
  const std::span<const int32_t> speeds = ProgrammerSpeeds(oldCodes);
  uint8_t code = kFallbackCode;
  if (baud != 0) {
    out.Print(Sink::kDebug, "Programmer baud rate ", baud, " specified\r\n");
    const auto found = std::find(speeds.begin(), speeds.end(), baud);
    if (found != speeds.end()) {
      code = static_cast<uint8_t>(found - speeds.begin() + 1);
    } else {
      out.Print(Sink::kInfo, "Unknown baudrate: ", baud, "\r\n", "Available baudrates are:");
      for (int32_t speed : speeds) out.Print(Sink::kInfo, " ", speed);
      out.Print(Sink::kInfo, "\r\nUsing 115200\r\n");
    }
  }
  const int32_t rate = speeds[code - 1];

  LinkSettings& settings = link.port.settings();
  if (rate == settings.baudRate) {
    out.Print(Sink::kDebug, "No change - already at the specified baud rate ", rate, "\r\n");
    SetReceiveTimeout(link, kLongTimeoutMs);
    return true;
  }

  out.Print(Sink::kDebug, "Changing programmer baud rate to ", rate, "\r\n");
  const int32_t startRate = settings.baudRate;
  const bool startParity = settings.evenParity;
  const bool oldCommand = unit.bootLoaderRelease < kFirstReleaseWithNewCommand;
  // Each attempt is a quick probe, paced as every other one on this link:
  // longer through a proxy, whose two hops take their time.
  const uint32_t fastMs = link.state.fastTimeoutMs;
  for (int attempt = 0; attempt < kSpeedAttempts; ++attempt) {
    // A unit whose reply was lost may already listen at the new speed, or
    // have fallen back to one of the speeds every boot loader knows.
    switch (attempt % 4) {
      case 0:
        ChangeOrFail(link, startRate, startParity, fastMs);
        break;
      case 1:
        ChangeOrFail(link, rate, false, fastMs);
        break;
      case 2:
        ChangeOrFail(link, kFallbackSpeed, false, fastMs);
        break;
      default:
        ChangeOrFail(link, kSlowSpeed, false, fastMs);
        break;
    }
    if (rpc::SetProgrammerSpeedOnce(link, oldCommand, code)) {
      TraceComplete(out);
      ChangeOrFail(link, rate, false, kLongTimeoutMs);
      return true;
    }
  }
  TraceFailed(out);
  return false;
}

}  // namespace kel
