#include "update/update_note.h"

#include "link/comm_port.h"
#include "link/packet_layer.h"
#include "runtime/runtime.h"
#include "unit/link_speed.h"

namespace kel {

void UpdateNote::Start(Link& link, const UnitInfo& unit, bool bootLoader, bool software) {
  link_ = &link;
  noted_ = NotedProgrammer{};
  noted_.unit = unit;
  // The programmer answers at the programming speed once it runs; behind a
  // test jig the jig's own search tells the speed, and the note names the jig.
  const int32_t programming = link.port.settings().programmerBaudRate;
  noted_.baudRate = programming > 0 ? programming : kFallbackSpeed;
  const ProxySettings& proxy = link.packets.proxy();
  noted_.jigAddress = proxy.on ? proxy.unitId : 0;
  noted_.bootLoader =
      bootLoader ? NotedProgrammer::BootLoader::kDue : NotedProgrammer::BootLoader::kDone;
  noted_.softwareDue = software;
  Write();
}

void UpdateNote::Adopt(Link& link, const NotedProgrammer& noted) {
  link_ = &link;
  noted_ = noted;
  noted_.baudRate = link.port.settings().baudRate;
}

void UpdateNote::BackupFieldsRead(uint16_t check) {
  noted_.backupCheck = check;
  Write();
}

void UpdateNote::BackupFieldsKept(const std::string& name) {
  noted_.keptCopy = name;
  Write();
}

void UpdateNote::BootLoaderUnderWay() {
  noted_.bootLoader = NotedProgrammer::BootLoader::kUnderWay;
  Write();
}

void UpdateNote::BootLoaderWritten() {
  noted_.bootLoader = NotedProgrammer::BootLoader::kDone;
  noted_.keptCopy.clear();
  Write();
}

void UpdateNote::SoftwareWritten() {
  noted_.softwareDue = false;
  Write();
}

void UpdateNote::Write() {
  if (link_ == nullptr) return;
  ProgrammerNote(link_->runtime.registry, link_->port.settings().portNumber).Write(noted_);
}

}  // namespace kel
