#pragma once

// Simulated units on COM3 with the simulator's line and unit time, reached
// the way a run reaches them, and the update session of a run, for the
// tests of unit updates and field updates.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "files/remote_file_access.h"
#include "flash/boot_tool_programmer.h"
#include "flash/image_catalogue.h"
#include "flash/record_image.h"
#include "flash/transfer_state.h"
#include "sim/sim_network.h"
#include "tests/connect_fixture.h"
#include "unit/rpc_identification.h"
#include "update/update_session.h"

namespace kel {

struct UpdateFixture : ConnectFixture {
  UpdateFixture() { options.debug = false; }

  /// Serves `units` (scenario [unit] sections) with the line model on COM3
  /// and connects as main does: identity, extended and advanced information.
  void Start(const std::string& units) {
    network = &Serve(3, "[port]\nline-model = yes\n" + units);
    Connect(3);
    ReadExtendedInfo(link, unit);
    ReadAdvancedInfo(link, unit);
    console.ClearOutput();
  }

  /// Runs `body` and returns the exit code it asked for (-1 when none).
  template <typename Body>
  int Run(Body body) {
    return ExitCodeOf(body);
  }

  /// Whether the flash of `unit` holds every record of the catalogue image
  /// `name`.
  static bool HoldsImage(const sim::SimUnit& simUnit, const char* name) {
    const ImageRef* image = CatalogueImage(name);
    if (image == nullptr) return false;
    RecordImage records;
    if (!records.Parse(image->bytes, image->size)) return false;
    for (const ImageRecord& r : records.records()) {
      const std::vector<uint8_t> held = simUnit.flash.Read(r.address, r.length);
      if (!std::equal(held.begin(), held.end(), r.data)) return false;
    }
    return true;
  }

  /// The file's bytes in a unit (empty when it has none).
  static std::vector<uint8_t> FileOf(const sim::SimUnit& simUnit, uint8_t drive, uint16_t file) {
    const sim::SimFile* found = simUnit.files.Find(drive, file);
    return found != nullptr ? found->data : std::vector<uint8_t>();
  }

  bool Has(const std::string& text) { return Console().find(text) != std::string::npos; }

  /// Adds a planned fault in the scenario's text form.
  void Fault(const std::string& text) {
    sim::FaultRule rule;
    std::string error;
    ASSERT_TRUE(sim::ParseFaultRule(text, rule, error)) << error;
    network->faults().Add(rule);
  }

  sim::SimNetwork* network = nullptr;
  TransferState transfer{options};
  RemoteFileAccess files{link};
  BootToolProgrammer bootToolProgrammer;
  UpdateSession session{link, transfer, files, bootToolProgrammer};
};

}  // namespace kel
