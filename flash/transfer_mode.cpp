#include "flash/transfer_mode.h"

#include "flash/transfer_state.h"
#include "link/comm_port.h"
#include "link/packet_layer.h"
#include "runtime/output.h"
#include "runtime/runtime.h"
#include "unit/link_speed.h"

namespace kel {

void AnnounceTransferMode(Link& link, size_t windowLimit) {
  Runtime& rt = link.runtime;
  Output& out = rt.out;
  const bool overlapped = link.state.overlappedActive;
  const bool buffered = link.state.bufferedTransfer;
  if (link.packets.proxy().on) {
    out.Print(Sink::kInfo, "-- using proxy\r\n");
    if (overlapped) {
      out.Print(Sink::kInfo, "-- using overlapped (duplex) comms through proxy\r\n");
      out.Print(Sink::kInfo, "-- window size = ", windowLimit, "\r\n");
    } else if (buffered) {
      out.Print(Sink::kInfo, "-- using buffered protocol\r\n");
    }
    return;
  }
  if (overlapped) {
    out.Print(Sink::kInfo, "-- using overlapped (duplex) comms\r\n");
    out.Print(Sink::kDebug, "-- hardware handshaking enabled\r\n");
    LinkSettings& settings = link.port.settings();
    settings.hardwareHandshake = true;
    if (!ChangePacketBaudRate(link, settings.baudRate, settings.evenParity, kLongTimeoutMs)) {
      rt.FatalError("Unable to change baudrate");
    }
    out.Print(Sink::kInfo, "-- window size = ", windowLimit, "\r\n");
  } else if (buffered) {
    out.Print(Sink::kInfo, "-- using buffered protocol\r\n");
  }
}

void EndHardwareHandshake(Link& link) {
  LinkSettings& settings = link.port.settings();
  if (!settings.hardwareHandshake) return;
  link.runtime.out.Print(Sink::kDebug, "-- hardware handshaking disabled\r\n");
  settings.hardwareHandshake = false;
}

void TurnOverlappedOff(Link& link, TransferState& transfer) {
  link.runtime.out.Print(Sink::kInfo, "-- overlapped mode turned off (using large packets)\r\n");
  link.state.overlappedActive = false;
  transfer.verify = false;
}

}  // namespace kel
