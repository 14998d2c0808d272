#include "sim/pty_server.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/memory_serial.h"
#include "platform/signals.h"
#include "sim/control_channel.h"

namespace kel::sim {

namespace {

constexpr size_t kReadChunk = 4096;
// The longest single wait; keeps the loop responsive to time-outs.
constexpr uint32_t kMaxWaitMs = 50;
// Bytes of a control file read at most (the channel takes 64 KiB).
constexpr size_t kControlLimit = 64 * 1024 + 1;
// Frames kept in memory per port while serving; the file gets them all.
constexpr size_t kTranscriptKept = 10000;

const char* RoleName(SimRole role) {
  switch (role) {
    case SimRole::kApplication:
      return "application";
    case SimRole::kBootLoader:
      return "boot loader";
    case SimRole::kProgrammer:
      return "programmer";
    case SimRole::kBlankChip:
      return "blank chip";
  }
  return "?";
}

const char* PlaceName(const SimUnit& unit, const SimNetwork& network, const SimUnit* jigPort) {
  (void)network;
  if (unit.connected) return unit.isJig ? "connected test jig" : "connected";
  if (&unit == jigPort) return "on the jig's second port";
  return "on the network";
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace

PtyServer::~PtyServer() { RemoveLinks(); }

bool PtyServer::AddPort(int number, const Scenario& scenario, const std::string& comDir,
                        const std::string& winePrefix, std::string& error) {
  if (number < 1 || number > 255) {
    error = "port number " + std::to_string(number) + " is outside 1..255";
    return false;
  }
  for (const auto& p : ports_) {
    if (p->number == number) {
      error = "COM" + std::to_string(number) + " is served twice";
      return false;
    }
  }
  auto port = std::make_unique<Port>();
  port->number = number;
  port->label = "COM" + std::to_string(number);
  port->pty = OpenPseudoTerminal(error);
  if (!port->pty) return false;
  port->network = std::make_unique<SimNetwork>();
  BuildNetwork(scenario, *port->network);
  port->network->transcript().SetLimit(kTranscriptKept);
  if (scenario.adapter) port->adapter = std::make_unique<AdapterModel>(scenario.adapterSettings);
  const std::string name = "com" + std::to_string(number);
  std::vector<std::string> links = {JoinPath(comDir, name)};
  if (!winePrefix.empty()) links.push_back(JoinPath(JoinPath(winePrefix, "dosdevices"), name));
  for (const auto& link : links) {
    if (!MakeDeviceLink(port->pty->slavePath(), link, error)) {
      for (const auto& made : port->links) RemoveDeviceLink(made);
      return false;
    }
    port->links.push_back(link);
  }
  port->network->PowerOn(clock_.Ticks());
  ports_.push_back(std::move(port));
  SetTranscriptFile(transcriptFile_);
  return true;
}

std::vector<std::string> PtyServer::Describe() const {
  std::vector<std::string> lines;
  for (const auto& p : ports_) {
    std::string line = p->label + ": " + p->pty->slavePath();
    for (const auto& link : p->links) line += " <- " + link;
    lines.push_back(line);
    SimNetwork& net = *p->network;
    for (SimUnit* u : net.AllUnits()) {
      // Units on the network are reached through the connected one, so
      // their own line speed does not matter to the program.
      char speed[48] = "relayed";
      if (u->connected || u == net.jigPortUnit()) {
        std::snprintf(speed, sizeof speed, "%d baud%s", static_cast<int>(u->baudRate),
                      u->evenParity ? " even parity" : "");
      }
      char text[320];
      std::snprintf(text, sizeof text,
                    "  %s: card %u at address %u, %s, software %d.%02dr%02u, %s, %s",
                    u->name.c_str(), u->cardNumber, u->unitAddress, RoleName(u->role),
                    u->softwareVersion / 100, u->softwareVersion % 100, u->softwareRelease, speed,
                    PlaceName(*u, net, net.jigPortUnit()));
      lines.push_back(text);
    }
  }
  return lines;
}

void PtyServer::SetTranscriptFile(std::FILE* file) {
  transcriptFile_ = file;
  for (auto& p : ports_) {
    p->transcriptFile = file;
    p->network->transcript().SetListener(file ? WriteTranscript : nullptr,
                                         file ? p.get() : nullptr);
  }
}

void PtyServer::WriteTranscript(const TranscriptEntry& entry, void* context) {
  auto* port = static_cast<Port*>(context);
  std::FILE* file = port ? port->transcriptFile : nullptr;
  if (!file) return;
  std::fprintf(file, "%s %s\n", port->label.c_str(), Transcript::Format(entry).c_str());
  std::fflush(file);
}

size_t PtyServer::ServeInput(Port& port) {
  size_t total = 0;
  uint8_t buffer[kReadChunk];
  for (;;) {
    const int n = port.pty->Read(buffer, sizeof buffer);
    if (n <= 0) break;
    SerialConfig line;
    // Re-read on every arrival: the program may have changed speed since.
    if (!port.pty->LineSettings(line)) line.baudRate = 0;
    port.network->Feed(buffer, static_cast<size_t>(n), line, clock_.Ticks());
    total += static_cast<size_t>(n);
  }
  TakeOutput(port);
  return total;
}

void PtyServer::TakeOutput(Port& port) {
  std::vector<TimedOutput> outputs = port.network->TakeOutput();
  if (port.adapter) {
    for (const TimedOutput& out : outputs) port.adapter->Add(out, port.network->lineModel());
    outputs = port.adapter->Take(uint64_t{clock_.Ticks()} * 1000);
  }
  for (auto& out : outputs) {
    auto at =
        std::upper_bound(port.pending.begin() + (port.written > 0 ? 1 : 0), port.pending.end(), out,
                         [](const TimedOutput& a, const TimedOutput& b) {
                           return static_cast<int32_t>(a.deliverAt - b.deliverAt) < 0;
                         });
    port.pending.insert(at, std::move(out));
  }
}

void PtyServer::WatchClose(Port& port) {
  const bool open = port.pty->FarEndOpen();
  const bool closedNow = port.farEndOpen && !open;
  port.farEndOpen = open;
  if (!closedNow || port.pty->ResetAfterClose()) return;
  // The slave could not be opened: a program may have opened it again in
  // the meantime (exclusively, as the updater does), and then it is left
  // alone. Only while nobody has it open is it taken for one that a killed
  // program left exclusive.
  if (port.pty->FarEndOpen()) {
    port.farEndOpen = true;
    return;
  }
  // An ordinary user cannot clear an exclusive slave that a killed program
  // left behind; a fresh terminal behind the same links is what the next
  // program then opens, as a serial device would be after its last close.
  std::string error;
  std::unique_ptr<PseudoTerminal> fresh = OpenPseudoTerminal(error);
  if (!fresh) return;
  for (const auto& link : port.links) MakeDeviceLink(fresh->slavePath(), link, error);
  port.pty = std::move(fresh);
}

void PtyServer::ServeOutput(Port& port, uint32_t now) {
  port.network->Advance(now);
  TakeOutput(port);
  if (!port.farEndOpen) {
    // Nobody has the port open: the units' bytes go nowhere.
    port.pending.clear();
    port.written = 0;
    return;
  }
  while (!port.pending.empty() && static_cast<int32_t>(now - port.pending.front().deliverAt) >= 0) {
    TimedOutput& out = port.pending.front();
    // Bytes the program reads at other settings than they were sent with
    // arrive garbled, as a UART would read them.
    SerialConfig heard;
    if (port.written == 0 && port.pty->LineSettings(heard) && LineSettingsDiffer(out.line, heard)) {
      for (uint8_t& b : out.bytes) b = GarbledByte(b);
    }
    const int n = port.pty->Write(out.bytes.data() + port.written, out.bytes.size() - port.written);
    if (n < 0) {
      // Nobody can take it: drop it, as a line with no listener does.
      port.pending.pop_front();
      port.written = 0;
      continue;
    }
    port.written += static_cast<size_t>(n);
    if (port.written < out.bytes.size()) break;  // terminal full; try again shortly
    port.pending.pop_front();
    port.written = 0;
  }
}

uint32_t PtyServer::NextDue(uint32_t now, uint32_t waitMs) const {
  uint32_t wait = std::min(waitMs, kMaxWaitMs);
  for (const auto& p : ports_) {
    uint32_t event = 0;
    if (p->network->NextEvent(event)) {
      const int32_t due = static_cast<int32_t>(event - now);
      wait = std::min<uint32_t>(wait, due > 0 ? static_cast<uint32_t>(due) : 0);
    }
    uint64_t releaseUs = 0;
    if (p->adapter && p->adapter->NextRelease(releaseUs)) {
      const int32_t due =
          static_cast<int32_t>(static_cast<uint32_t>((releaseUs + 999) / 1000) - now);
      wait = std::min<uint32_t>(wait, due > 0 ? static_cast<uint32_t>(due) : 0);
    }
    if (p->pending.empty()) continue;
    const int32_t due = static_cast<int32_t>(p->pending.front().deliverAt - now);
    wait = std::min<uint32_t>(wait, due > 0 ? static_cast<uint32_t>(due) : 0);
  }
  return wait;
}

void PtyServer::PollControl() {
  if (controlFile_.empty()) return;
  std::ifstream in(controlFile_, std::ios::binary);
  if (!in) return;
  // A little more than the channel takes, so that an oversized file is refused.
  std::string text(kControlLimit, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  in.close();
  std::remove(controlFile_.c_str());
  std::map<int, SimNetwork*> ports;
  for (auto& p : ports_) ports[p->number] = p->network.get();
  const std::string replies = RunControlCommands(
      text, ports, std::filesystem::path(controlFile_).parent_path().string(), clock_.Ticks());
  const std::string reply = controlFile_ + ".reply";
  const std::string part = reply + ".part";
  std::ofstream(part, std::ios::binary | std::ios::trunc) << replies;
  std::remove(reply.c_str());  // rename does not replace a file everywhere
  std::rename(part.c_str(), reply.c_str());
}

size_t PtyServer::Step(uint32_t waitMs) {
  std::vector<PseudoTerminal*> terminals;
  for (auto& p : ports_) terminals.push_back(p->pty.get());
  WaitForTerminals(terminals, NextDue(clock_.Ticks(), waitMs));
  size_t read = 0;
  for (auto& p : ports_) read += ServeInput(*p);
  for (auto& p : ports_) WatchClose(*p);
  const uint32_t now = clock_.Ticks();
  for (auto& p : ports_) ServeOutput(*p, now);
  PollControl();
  return read;
}

void PtyServer::Run(uint32_t idleExitMs) {
  uint32_t lastActivity = clock_.Ticks();
  while (!StopRequested()) {
    if (Step(kMaxWaitMs) > 0) lastActivity = clock_.Ticks();
    if (idleExitMs != 0 && clock_.Ticks() - lastActivity >= idleExitMs) break;
  }
}

void PtyServer::RemoveLinks() {
  for (auto& p : ports_) {
    for (const auto& link : p->links) RemoveDeviceLink(link);
    p->links.clear();
  }
}

}  // namespace kel::sim
