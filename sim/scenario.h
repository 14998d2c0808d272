#pragma once

#include <string>
#include <vector>

#include "sim/adapter_model.h"
#include "sim/faults.h"
#include "sim/sim_network.h"
#include "sim/sim_unit.h"
#include "sim/unit_preload.h"

namespace kel::sim {

/// One unit of a scenario and where it sits.
struct ScenarioUnit {
  SimUnit unit;
  SimNetwork::Place place = SimNetwork::Place::kConnected;
  int line = 0;  ///< line of its section header, for messages
  /// Flash, backup fields and files to load, with the line of each key.
  std::vector<std::pair<int, PreloadStep>> preload;
};

/// A scenario file: the units behind one port, the port's settings and the
/// faults planned for it. The format is described in sim/README.md.
struct Scenario {
  int portNumber = 1;         ///< COM number the port is served as
  bool lineModel = false;     ///< pace replies at the line rate
  uint32_t processingMs = 2;  ///< without the line model: a unit's processing time per request
  bool adapter = false;       ///< the units' bytes reach the program through a USB adapter
  AdapterSettings adapterSettings;
  std::string baseDir;        ///< folder that relative paths in the file start from
  std::vector<ScenarioUnit> units;
  std::vector<FaultRule> faults;
};

/// Reads a scenario from text; relative paths start from `baseDir`. On
/// failure returns false with a message naming the line: "line 12:
/// unknown key 'bud'".
bool ParseScenario(const std::string& text, Scenario& scenario, std::string& error,
                   const std::string& baseDir = std::string());
/// Reads a scenario file; the message then starts with the file name.
bool LoadScenario(const std::string& path, Scenario& scenario, std::string& error);
/// Puts the scenario's units and faults into a fresh network.
void BuildNetwork(const Scenario& scenario, SimNetwork& network);

/// The MCU type a card carries (0 when the card is unknown).
uint8_t McuTypeOfCard(uint16_t cardNumber, uint16_t circuitCode);

}  // namespace kel::sim
