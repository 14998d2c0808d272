#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/pseudo_terminal.h"
#include "sim/adapter_model.h"
#include "sim/scenario.h"
#include "sim/sim_network.h"

namespace kel::sim {

/// Serves scenarios on pseudo-terminals: one terminal per port, linked as
/// DIR/comN (and WINEPREFIX/dosdevices/comN when asked) so that the program
/// finds it as COM N. The program's speed and parity are read from the
/// terminal settings whenever bytes arrive; units answer only when they
/// match, as on a real line. A port nobody has open behaves as a serial
/// device does: what the units send meanwhile is lost, and the program's
/// last close ends its exclusive mode.
class PtyServer {
 public:
  explicit PtyServer(Clock& clock) : clock_(clock) {}
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  /// Creates the terminal and links for one scenario as COM`number`.
  /// `winePrefix` may be empty. False with the reason in `error`.
  bool AddPort(int number, const Scenario& scenario, const std::string& comDir,
               const std::string& winePrefix, std::string& error);
  /// One line per served port and per unit.
  std::vector<std::string> Describe() const;
  /// Writes every frame to `file` (not owned) as it happens.
  void SetTranscriptFile(std::FILE* file);
  /// Watches `path` for commands of a stand-in boot tool (control_channel.h):
  /// once the file exists it is read, removed and carried out, and the
  /// replies are written to `path`.reply (by a rename, so that a reader
  /// never sees half of it). The tool should likewise write the commands
  /// under another name and rename them to `path`.
  void SetControlFile(const std::string& path) { controlFile_ = path; }
  /// Serves until a stop signal arrives or, when `idleExitMs` is not 0, no
  /// byte has come from the program for that long.
  void Run(uint32_t idleExitMs);
  /// Serves for one wait of at most `waitMs`; returns the bytes read.
  size_t Step(uint32_t waitMs);
  /// Removes the links made by AddPort (also done on destruction).
  void RemoveLinks();

  size_t portCount() const { return ports_.size(); }
  int portNumber(size_t index) const { return ports_[index]->number; }
  SimNetwork& network(size_t index) { return *ports_[index]->network; }
  const std::string& slavePath(size_t index) const { return ports_[index]->pty->slavePath(); }

 private:
  struct Port {
    int number = 0;
    std::unique_ptr<PseudoTerminal> pty;
    std::unique_ptr<SimNetwork> network;
    std::vector<std::string> links;
    std::deque<TimedOutput> pending;  ///< replies waiting for their time
    std::unique_ptr<AdapterModel> adapter;  ///< the USB adapter the replies pass, if any
    size_t written = 0;               ///< bytes of pending.front() already written
    std::string label;                ///< "COMn", for the transcript
    std::FILE* transcriptFile = nullptr;
    bool farEndOpen = true;  ///< a program has the port open (or never had)
  };

  size_t ServeInput(Port& port);
  void TakeOutput(Port& port);
  void ServeOutput(Port& port, uint32_t now);
  void WatchClose(Port& port);
  uint32_t NextDue(uint32_t now, uint32_t waitMs) const;
  void PollControl();
  static void WriteTranscript(const TranscriptEntry& entry, void* context);

  Clock& clock_;
  std::vector<std::unique_ptr<Port>> ports_;
  std::FILE* transcriptFile_ = nullptr;
  std::string controlFile_;
};

}  // namespace kel::sim
