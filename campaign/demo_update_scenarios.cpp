// The updates of the demo network (a KD4 display with two KT5 transmitters
// behind it) as a run makes them: the whole job on the simulated port,
// directly with -f (the display alone), the same with its boot loader
// (-l), the same overlapped (-o: windowed
// programmer download and flash writes), and as a field update of all three
// units with update files and a restart of the system; and a production job
// through a KJ3 test jig, whose unit gets its programmer and software in
// buffered chunks.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/job.h"
#include "campaign/update_scenario.h"
#include "flash/image_catalogue.h"
#include "flash/record_image.h"
#include "flash/unit_files.h"
#include "sim/update_files.h"
#include "unit/card_table.h"

namespace kel::campaign {

namespace {

std::string ShippedUnits(const std::string& name) {
  std::ifstream in(std::string(KEL_SOURCE_DIR) + "/sim/scenarios/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string DemoUnits() { return ShippedUnits("demo.scn"); }

bool HoldsRecords(const sim::SimUnit& unit, const ImageRef& image) {
  RecordImage records;
  if (!records.Parse(image.bytes, image.size)) return false;
  for (const ImageRecord& r : records.records()) {
    if (unit.flash.Read(r.address, r.length) != std::vector<uint8_t>(r.data, r.data + r.length)) {
      return false;
    }
  }
  return true;
}

bool HoldsFiles(const sim::SimUnit& unit, std::span<const UnitFile> files) {
  for (const UnitFile& f : files) {
    const sim::SimFile* held = unit.files.Find(f.drive, f.fileNumber);
    if (held == nullptr || held->data != std::vector<uint8_t>(f.data, f.data + f.size)) {
      return false;
    }
  }
  return true;
}

// The unit's flash holds the embedded software of its card and MCU, and its
// drive the language and fieldbus files of its card (and the image and
// fonts when they travel one by one rather than in the resource file).
bool UpToDate(const sim::SimUnit& unit) {
  const CardEntry* card = FindCard(unit.cardNumber);
  int8_t mcu = 0;
  if (card == nullptr || !CardMcuType(unit.cardNumber, unit.circuitCode, mcu)) return false;
  const SoftwareEntry* software = FindSoftware(card->unitType, mcu);
  if (software == nullptr || !HoldsRecords(unit, *CatalogueImage(software->image))) return false;
  const UnitFileSet set = UnitFilesForCard(unit.cardNumber, mcu);
  if (!HoldsFiles(unit, set.languageFiles) || !HoldsFiles(unit, set.fieldbusFiles)) return false;
  return set.resourceFile || (HoldsFiles(unit, set.imageFiles) && HoldsFiles(unit, set.fontFiles));
}

void RunJobOnDemo(World& w, bool firstUnitOnly, bool overlapped = false) {
  Program& p = w.program();
  p.options.portNumber = 3;
  p.options.firstUnitOnly = firstUnitOnly;
  p.options.overlapped = overlapped;
  RunJob(p.runtime, w.ports, "/nonexistent/PonderixLogFiles");
}

// Lets the simulator finish what was under way when the run ended (a
// restart that applies update files), then compares every unit.
bool AllUpToDate(World& w, bool connectedOnly) {
  w.network.Advance(w.clock.Ticks() + 10000);
  for (sim::SimUnit* unit : w.network.AllUnits()) {
    if (connectedOnly && unit != w.network.connected()) continue;
    if (!UpToDate(*unit)) return false;
  }
  return true;
}

}  // namespace

UpdateScenario DemoDirectScenario() {
  // A display whose boot loader takes the software's 8 KiB records (the
  // demo's holds 1 KiB, which only the overlapped transfer can serve).
  std::string units = DemoUnits();
  const std::string small = "buffer-size = 1024";
  units.replace(units.find(small), small.size(), "buffer-size = 8192");
  return {"demo-direct", units, [](World& w) { RunJobOnDemo(w, true); },
          [](World& w) { return AllUpToDate(w, true); }};
}

UpdateScenario DemoDirectBootLoaderScenario() {
  // The same with -l: the display's boot loader (4r18) is older than the
  // one the program carries, so it is written first, through the window of
  // programmer writes that a stop must not cut short.
  UpdateScenario scenario = DemoDirectScenario();
  scenario.name = "demo-direct-boot-loader";
  scenario.run = [](World& w) {
    w.program().options.updateBootLoader = true;
    RunJobOnDemo(w, true);
  };
  scenario.contentsMatch = [](World& w) {
    return AllUpToDate(w, true) &&
           HoldsRecords(*w.network.connected(), *CatalogueImage("boot_kd4_lpc4337"));
  };
  return scenario;
}

UpdateScenario DemoOverlappedScenario() {
  // The demo's display with its 1 KiB boot-loader buffer, raising CTS: -o
  // downloads the programmer and writes the flash in windows of 8.
  std::string units = DemoUnits();
  const std::string small = "buffer-size = 1024";
  units.replace(units.find(small), small.size(), small + "\ncts = high");
  return {"demo-overlapped", units, [](World& w) { RunJobOnDemo(w, true, true); },
          [](World& w) { return AllUpToDate(w, true); }};
}

UpdateScenario JigProductionScenario() {
  // The shipped jig, its KT5 given the large buffer its programmer needs.
  // The job's parameter file is written afresh for every run (the job
  // writes its result into it).
  return {"jig-production", ShippedUnits("kj3_jig.scn") + "\nbuffer-size = 8192\n",
          [](World& w) {
            const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                              ("kel_campaign_" + std::to_string(getpid()));
            std::filesystem::create_directories(dir);
            const std::string job = (dir / "job.ini").string();
            std::ofstream(job, std::ios::binary | std::ios::trunc)
                << "KelManufacture=1\r\nProgram=1\r\nUnitType=2\r\nMcuType=LPC4337,LPC4357\r\n";
            Program& p = w.program();
            p.options.parameterFile = job;
            p.options.manufacturingMode = true;
            RunJob(p.runtime, w.ports, "/nonexistent/PonderixLogFiles");
          },
          [](World& w) {
            const sim::SimUnit* unit = w.network.jigPortUnit();
            return unit != nullptr && UpToDate(*unit);
          }};
}

UpdateScenario DemoFieldScenario() {
  return {"demo-field", DemoUnits(), [](World& w) { RunJobOnDemo(w, false); },
          [](World& w) { return AllUpToDate(w, false); }};
}

}  // namespace kel::campaign
