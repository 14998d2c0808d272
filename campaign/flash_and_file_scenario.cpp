// A direct update at the level of the flash and file layers: a KT3
// transmitter (LPC1768) in its boot loader gets the catalogue's programmer,
// its software image written into flash and one file rewritten.
#include <span>

#include "campaign/update_scenario.h"
#include "files/file_updates.h"
#include "files/remote_file_access.h"
#include "flash/flash_writer.h"
#include "flash/image_catalogue.h"
#include "flash/image_selection.h"
#include "flash/programmer_download.h"
#include "flash/record_image.h"
#include "unit/rpc_buffer_size.h"
#include "unit/rpc_identification.h"

namespace kel::campaign {

namespace {

constexpr uint8_t kDrive = 1;
constexpr uint16_t kFile = 0x1E3;

const std::vector<uint8_t>& FileData() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> bytes(3000);
    uint32_t x = 15;
    for (uint8_t& b : bytes) {
      x = x * 1103515245u + 12345u;
      b = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
  }();
  return data;
}

const ImageRef& Software() {
  return *CatalogueImage(FindSoftware(unitTypeTransmitter, mcuLPC1768)->image);
}

void RunFlashAndFile(World& w) {
  Program& p = w.program();
  Runtime& rt = p.runtime;
  p.options.initialBaudRate = 115200;
  if (!p.port.OpenPort()) rt.FatalError("Unable to open the port");
  p.unit.unitAddress = p.state.bootLoaderAddress;
  p.unit.connectionMode = modePonderixBootLoader;
  if (!ReadBootLoaderRelease(p.link, p.unit)) rt.FatalError("Unable to read the boot loader");
  GetBufferSize(p.link, p.unit);
  p.unit.unitType = unitTypeTransmitter;
  if (!SelectFlashProgrammer(rt, p.unit, false) ||
      !DownloadProgrammer(p.link, p.transfer, p.unit, p.unit.flashProgrammer, "")) {
    rt.FatalError("Unable to download the flash programmer");
  }
  if (!WriteFlash(p.link, p.transfer, p.unit, Software(), {})) {
    rt.FatalError("Unable to program unit");
  }
  RemoteFileAccess files(p.link);
  if (!UpdateFile(files, p.unit, kDrive, kFile, std::span<const uint8_t>(FileData()), true)) {
    rt.FatalError("Unable to update file");
  }
  p.out.Print(Sink::kConsole, "Success: all operations are complete\r\n");
}

bool FlashAndFileMatch(World& w) {
  const sim::SimUnit& unit = *w.network.connected();
  RecordImage image;
  if (!image.Parse(Software().bytes, Software().size)) return false;
  for (const ImageRecord& r : image.records()) {
    if (unit.flash.Read(r.address, r.length) != std::vector<uint8_t>(r.data, r.data + r.length)) {
      return false;
    }
  }
  const sim::SimFile* file = unit.files.Find(kDrive, kFile);
  return file != nullptr && file->data == FileData();
}

}  // namespace

UpdateScenario FlashAndFileScenario() {
  return {"flash-and-file",
          "[port]\nnumber = 3\n"
          "[unit kt3]\nplace = connected\nrole = boot-loader\nboot-loader = 4r18\n"
          "boot-flags = 0\nmcu = 5\ncard = 659\nbuffer-size = 8192\n",
          RunFlashAndFile, FlashAndFileMatch, true};
}

UpdateScenario DemoDirectScenario();
UpdateScenario DemoDirectBootLoaderScenario();
UpdateScenario DemoFieldScenario();
UpdateScenario DemoOverlappedScenario();
UpdateScenario JigProductionScenario();

std::vector<UpdateScenario> UpdateScenarios() {
  return {FlashAndFileScenario(), DemoDirectScenario(), DemoDirectBootLoaderScenario(),
          DemoOverlappedScenario(), JigProductionScenario(), DemoFieldScenario()};
}

}  // namespace kel::campaign
