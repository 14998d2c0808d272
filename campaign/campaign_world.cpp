#include "campaign/campaign_world.h"

#include <cstdio>

#include "campaign/request_kind.h"
#include "sim/scenario.h"

namespace kel::campaign {

/// Sits between the line and the simulator: passes everything on, and
/// damages each byte the updater sends with a chance of 1 in `oneIn`.
class World::NoisyLine : public MemorySerialPeer {
 public:
  NoisyLine(sim::MemoryPeer& inner, uint32_t oneIn, uint32_t seed)
      : inner_(inner), oneIn_(oneIn), state_(seed * 2654435761u + 1) {}

  void OnHostBytes(const uint8_t* data, size_t length, const SerialConfig& line,
                   uint32_t now) override {
    std::vector<uint8_t> bytes(data, data + length);
    for (uint8_t& b : bytes) {
      if (Next() % oneIn_ == 0) {
        b ^= static_cast<uint8_t>(1 + Next() % 255);
        ++damaged;
      }
    }
    inner_.OnHostBytes(bytes.data(), bytes.size(), line, now);
  }
  void OnTime(uint32_t now) override { inner_.OnTime(now); }
  void OnOpen(bool open, const SerialConfig& line) override { inner_.OnOpen(open, line); }
  bool Cts() override { return inner_.Cts(); }
  bool NextEvent(uint32_t& tick) override { return inner_.NextEvent(tick); }
  bool HostBytesLeaveAt(uint32_t& tick) override { return inner_.HostBytesLeaveAt(tick); }

  uint64_t damaged = 0;

 private:
  uint32_t Next() {
    state_ = state_ * 1103515245u + 12345u;
    return state_ >> 8;
  }
  sim::MemoryPeer& inner_;
  uint32_t oneIn_;
  uint32_t state_;
};

Program::Program(VirtualClock& clock, MemorySerialPorts& ports, Registry& registry)
    : out{console, clock, options},
      runtime{options, out, clock, console, env, registry, exit, {}},
      port{runtime, ports},
      packets{runtime, port, proxy},
      link{runtime, port, packets, state},
      transfer{options} {
  options.portNumber = kPort;
  options.yesToPrompts = true;
  out.errorReportLevel = 1;
}

World::World() : program_(std::make_unique<Program>(clock, ports, registry)) {}

World::~World() {
  // The port closes after the units are gone: nothing may hear it, and no
  // time limit may end a run that is over.
  clock.SetAdvanceListener({});
  program_.reset();
  if (MemorySerialLine* line = ports.Line(kPort)) line->AttachPeer(nullptr);
}

bool World::Build(const std::string& text, std::string& error) {
  sim::Scenario scenario;
  if (!sim::ParseScenario(text, scenario, error)) return false;
  sim::BuildNetwork(scenario, network);
  network.transcript().SetLimit(16);
  peer_ = std::make_unique<sim::MemoryPeer>(network, ports.AddLine(kPort));
  return true;
}

bool World::AddFault(const std::string& rules, std::string& error) {
  size_t start = 0;
  while (start <= rules.size()) {
    size_t end = rules.find(';', start);
    if (end == std::string::npos) end = rules.size();
    const std::string rule = rules.substr(start, end - start);
    start = end + 1;
    if (rule.find_first_not_of(' ') == std::string::npos) continue;
    sim::FaultRule parsed;
    if (!sim::ParseFaultRule(rule, parsed, error)) return false;
    network.faults().Add(parsed);
  }
  return true;
}

void World::EndFaults() {
  network.faults().Clear();
  network.SetUnplugged(false);
  if (noise_) {
    damagedBefore_ += noise_->damaged;
    ports.Line(kPort)->AttachPeer(peer_.get());
    noise_.reset();
  }
}

void World::NewProgram() {
  program_.reset();
  program_ = std::make_unique<Program>(clock, ports, registry);
}

void World::PowerCycle() {
  network.PowerCycle(clock.Ticks());
  // The units come back up before the program looks for them.
  Pause(5000);
}

void World::Pause(uint32_t ms) {
  clock.Advance(ms);
  network.Advance(clock.Ticks());
}

void World::LimitTime(uint32_t stallMs, uint32_t totalMs) {
  const uint32_t start = clock.Ticks();
  clock.SetAdvanceListener(
      [this, start, stallMs, totalMs, seen = uint64_t{0}, progress = start](uint32_t now) mutable {
        if (network.requestCount() != seen) {
          seen = network.requestCount();
          progress = now;
        }
        if (now - progress > stallMs || now - start > totalMs) throw TimeLimitReached{};
      });
}

namespace {

void NoteRequest(const sim::TranscriptEntry& entry, void* context) {
  if (entry.direction != sim::TranscriptEntry::Direction::kToUnit || entry.request == 0) return;
  auto& kinds = *static_cast<std::vector<std::string>*>(context);
  if (kinds.size() < entry.request) kinds.resize(entry.request);
  kinds[entry.request - 1] = RequestKind(entry.bytes);
}

}  // namespace

void World::RecordRequestKinds(std::vector<std::string>& kinds) {
  network.transcript().SetListener(NoteRequest, &kinds);
}

void World::CorruptBytes(uint32_t oneIn, uint32_t seed) {
  sim::FaultRule replies;
  replies.kind = sim::FaultKind::kNoise;
  replies.times = 0;
  replies.value = oneIn;
  replies.hasValue = true;
  replies.seed = seed;
  network.faults().Add(replies);
  noise_ = std::make_unique<NoisyLine>(*peer_, oneIn, seed);
  ports.Line(kPort)->AttachPeer(noise_.get());
}

uint64_t World::corrupted() const { return damagedBefore_ + (noise_ ? noise_->damaged : 0); }

}  // namespace kel::campaign
