#include "app/port_list.h"

#include <string>
#include <vector>

namespace kel {

namespace {

constexpr char kNoList[] = "The ports searched are COM1 to COM99 (this system lists no ports)";
constexpr char kNoPorts[] = "No serial ports found";
constexpr char kBluetoothNote[] = " [Bluetooth: searched only when named]";

// Pads `text` with spaces to `width` characters (at least one space follows).
std::string Column(const std::string& text, size_t width) {
  return text.size() < width ? text + std::string(width - text.size(), ' ') : text + " ";
}

}  // namespace

void PrintPortList(Output& out, SerialPortOpener& ports) {
  std::vector<PortListing> listed;
  if (!ports.ListPorts(listed)) {
    out.Print(Sink::kConsole, kNoList, "\r\n");
    return;
  }
  if (listed.empty()) {
    out.Print(Sink::kConsole, kNoPorts, "\r\n");
    return;
  }
  size_t deviceWidth = 0;
  for (const PortListing& port : listed) deviceWidth = std::max(deviceWidth, port.device.size());
  for (const PortListing& port : listed) {
    std::string line = Column("COM" + std::to_string(port.number), 7);
    line += port.description.empty() && !port.bluetooth ? port.device
                                                        : Column(port.device, deviceWidth + 2);
    line += port.description;
    if (port.bluetooth) line += kBluetoothNote;
    out.Print(Sink::kConsole, line, "\r\n");
  }
}

}  // namespace kel
