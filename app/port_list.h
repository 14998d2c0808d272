#pragma once

#include "platform/serial_device.h"
#include "runtime/output.h"

namespace kel {

/// --list-ports: every port a search would try, one line each on the
/// console: the COM name, the device and what the system says of it (a USB
/// device's maker, product and serial, a Windows port's friendly name).
/// Bluetooth ports are listed with a note that a search tries them only
/// when named. Touches no port.
void PrintPortList(Output& out, SerialPortOpener& ports);

}  // namespace kel
