#include "campaign/fault_campaign.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <utility>

#include "sim/boot_region.h"

namespace kel::campaign {

namespace {

constexpr uint32_t kRandomOneIn = 400;
constexpr unsigned kRealTimeLimitS = 300;
// The longest legitimate pause between requests is a wait of about 90 s.
constexpr uint32_t kStallLimitMs = 10 * 60 * 1000;
constexpr uint32_t kTotalLimitMs = 48u * 3600 * 1000;
constexpr uint64_t kProgressEvery = 50;   // runs between progress lines
constexpr uint32_t kRerunPauseMs = 5000;  // between a failure and its rerun

const char* const kFatalPrefix = "Fatal Error: ";

RunResult Judge(World& w, const UpdateScenario& scenario, bool returned, int exitCode) {
  RunResult r;
  const std::string& console = w.program().console.output();
  if (returned) {
    if (console.find("Complete: ") != std::string::npos) {
      // A field update that names the units it could not update, or whose
      // restart was not confirmed: a failure said as such, not a success.
      r.outcome = Outcome::kCleanFailure;
    } else if (console.find("Success: all operations are complete") == std::string::npos) {
      r.why = "returned without its success line";
    } else if (!scenario.contentsMatch(w)) {
      r.why = "success reported over wrong contents";
    } else {
      r.outcome = Outcome::kSuccess;
    }
  } else if (exitCode == 0) {
    r.why = "ended with exit code 0 and no success";
  } else if (console.find(kFatalPrefix) == std::string::npos) {
    r.why = "exit code " + std::to_string(exitCode) + " without a fatal message";
  } else {
    r.outcome = Outcome::kCleanFailure;
  }
  return r;
}

}  // namespace

namespace {

// The first fatal message on the console, without its prefix.
std::string FatalMessage(const std::string& console) {
  const size_t at = console.find(kFatalPrefix);
  if (at == std::string::npos) return "";
  const size_t start = at + std::strlen(kFatalPrefix);
  const size_t end = console.find_first_of("\r\n", start);
  return console.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Every unit's line speed, by name.
std::map<std::string, int32_t> LineSpeeds(sim::SimNetwork& network) {
  std::map<std::string, int32_t> speeds;
  for (sim::SimUnit* unit : network.AllUnits()) speeds[unit->name] = unit->applicationBaud;
  return speeds;
}

// A unit running in its application at a speed other than the one it was
// found at, or whose own speed setting changed; empty when none is.
std::string SpeedChanged(sim::SimNetwork& network, const std::map<std::string, int32_t>& found) {
  for (sim::SimUnit* unit : network.AllUnits()) {
    const auto it = found.find(unit->name);
    if (it == found.end()) continue;
    if (unit->applicationBaud != it->second ||
        (unit->role == sim::SimRole::kApplication && unit->baudRate != it->second)) {
      return unit->name + " left at " + std::to_string(unit->baudRate) + " baud, found at " +
             std::to_string(it->second);
    }
  }
  return "";
}

// The units whose boot region holds no whole boot loader, but for those
// that still run the programmer that can finish it (with `pending`) and
// those that lost it to a fault of their own: a restart by themselves (a
// watchdog, a brown-out) or their power going, in the middle of the write,
// which no program can keep a boot loader whole through. Those are noted
// in `lostToFaults`.
std::string BrokenBootLoaders(sim::SimNetwork& network, bool pending, bool& lostToFaults) {
  std::string names;
  for (sim::SimUnit* unit : network.AllUnits()) {
    if (sim::ReadBootRegion(*unit).state != sim::BootRegionState::kBroken) continue;
    if (pending && unit->role == sim::SimRole::kProgrammer) continue;
    if (unit->bootLoaderLost && unit->bootLoaderLostBy == sim::RestartCause::kFault) {
      lostToFaults = true;
      continue;
    }
    names += (names.empty() ? "" : ", ") + unit->name;
  }
  return names;
}

// Marks `r` when a unit's boot loader is broken by anything but a fault of
// its own: a violation.
void CheckBootLoaders(sim::SimNetwork& network, bool pending, const char* when, RunResult& r) {
  bool lostToFaults = false;
  const std::string broken = BrokenBootLoaders(network, pending, lostToFaults);
  if (lostToFaults) r.powerLossInBootLoader = true;
  if (broken.empty()) return;
  r.bootLoaderBroken = true;
  r.outcome = Outcome::kViolation;
  r.why = std::string(when) + ": the boot loader of " + broken + " is not whole";
  r.cause = std::string("boot loader broken ") + when;
}

bool InProgrammer(sim::SimNetwork& network) {
  for (sim::SimUnit* unit : network.AllUnits()) {
    if (unit->role == sim::SimRole::kProgrammer) return true;
  }
  return false;
}

bool AsksForPowerCycle(const std::string& console) {
  return console.find("power off and on") != std::string::npos ||
         console.find("power cycle") != std::string::npos ||
         console.find("Power cycle") != std::string::npos;
}

// One run of the job in `w` as it stands: the verdict, the why and cause
// of a violation filled in.
RunResult RunJob(World& w, const UpdateScenario& scenario,
                 const std::map<std::string, int32_t>& speeds) {
  w.LimitTime(kStallLimitMs, kTotalLimitMs);
  alarm(kRealTimeLimitS);  // a run that spins without its clock moving
  RunResult r;
  bool returned = false;
  int exitCode = 0;
  try {
    scenario.run(w);
    returned = true;
  } catch (const ExitRequested& exit) {
    exitCode = exit.code;
  } catch (const TimeLimitReached&) {
    r.why = "hung: no request for " + std::to_string(kStallLimitMs / 1000) +
            " s of virtual time, or no end within " + std::to_string(kTotalLimitMs / 3600000) +
            " h";
    r.cause = "hung";
  } catch (const std::exception& e) {
    r.why = std::string("exception: ") + e.what();
    r.cause = "exception";
  }
  alarm(0);
  w.clock.SetAdvanceListener({});
  if (r.why.empty()) r = Judge(w, scenario, returned, exitCode);
  if (r.outcome == Outcome::kViolation && r.cause.empty()) r.cause = r.why;
  if (r.outcome == Outcome::kSuccess) {
    const std::string changed = SpeedChanged(w.network, speeds);
    if (!changed.empty()) {
      r.outcome = Outcome::kViolation;
      r.why = "success, but " + changed;
      r.cause = "success with a unit's line speed changed";
    }
  }
  return r;
}

void PrintViolation(World& w, const UpdateScenario& scenario, const RunFaults& faults,
                    const RunResult& r) {
  const std::string& console = w.program().console.output();
  const size_t tail = console.size() > 600 ? console.size() - 600 : 0;
  std::printf(
      "%s scenario=%s fault=\"%s\" noise=%u seed=%u cause=\"%s\": %s\n"
      "--- console tail:\n%s\n",
      r.outcome == Outcome::kViolation ? "violation" : "clean-failure", scenario.name.c_str(),
      faults.rule.c_str(), faults.noiseOneIn, faults.seed, r.cause.c_str(), r.why.c_str(),
      console.substr(tail).c_str());
  std::fflush(stdout);
}

}  // namespace

RunResult RunOnce(const UpdateScenario& scenario, const RunFaults& faults,
                  std::vector<std::string>* kinds, bool showFailure) {
  World w;
  std::string error;
  RunResult r;
  if (!w.Build(scenario.units, error) ||
      (!faults.rule.empty() && !w.AddFault(faults.rule, error))) {
    r.why = "bad set-up: " + error;
    r.cause = "bad set-up";
    return r;
  }
  const std::map<std::string, int32_t> speeds = LineSpeeds(w.network);
  if (faults.noiseOneIn != 0) w.CorruptBytes(faults.noiseOneIn, faults.seed);
  if (kinds != nullptr) w.RecordRequestKinds(*kinds);
  r = RunJob(w, scenario, speeds);
  r.requests = w.requests();
  for (const sim::FaultRule& rule : w.network.faults().rules()) {
    if (rule.kind != sim::FaultKind::kNoise) r.faults += rule.fired;
  }
  r.faults += w.corrupted();
  // A boot loader still being written counts only once its unit no longer
  // runs the programmer that can finish it.
  CheckBootLoaders(w.network, r.outcome != Outcome::kSuccess, "after the run", r);
  if (r.outcome == Outcome::kViolation || (showFailure && r.outcome != Outcome::kSuccess)) {
    PrintViolation(w, scenario, faults, r);
  }
  if (r.outcome != Outcome::kCleanFailure) return r;
  // A boot loader the fault cut off with the unit's power: only the
  // factory's boot tool brings the unit back, so no rerun is owed.
  if (r.powerLossInBootLoader) return r;

  // The unit as the failure left it: the same job again, without faults.
  const std::string failure = w.program().console.output();
  const bool inProgrammer = InProgrammer(w.network);
  w.EndFaults();
  // The operator reads the message and starts the job again: a few seconds
  // at least, in which a unit's restart or silence that the failure left
  // under way comes to its end.
  w.Pause(kRerunPauseMs);
  if (scenario.rerunFromPowerOn) w.PowerCycle();
  w.NewProgram();
  RunResult rerun = RunJob(w, scenario, speeds);
  if (rerun.outcome != Outcome::kSuccess && inProgrammer) {
    // A rerun finishes with a unit left in its RAM programmer; where it
    // cannot, a power cycle is the last help, asked for only while the
    // unit's boot loader is whole (else it would never start again).
    if (!AsksForPowerCycle(failure) && !AsksForPowerCycle(w.program().console.output())) {
      rerun.outcome = Outcome::kViolation;
      rerun.why = "a unit left in its RAM programmer, and no request for a power cycle";
      rerun.cause = rerun.why;
    } else if (bool lost = false;
               !BrokenBootLoaders(w.network, false, lost).empty()) {
      const std::string broken = BrokenBootLoaders(w.network, false, lost);
      rerun.outcome = Outcome::kViolation;
      rerun.bootLoaderBroken = true;
      rerun.why = "a power cycle asked for while the boot loader of " + broken + " is not whole";
      rerun.cause = "a power cycle asked for with a boot loader half written";
    } else {
      w.PowerCycle();
      w.NewProgram();
      rerun = RunJob(w, scenario, speeds);
    }
  }
  if (rerun.outcome != Outcome::kViolation) {
    CheckBootLoaders(w.network, false, "after the rerun", rerun);
  }
  r.bootLoaderBroken = rerun.bootLoaderBroken;
  r.powerLossInBootLoader = r.powerLossInBootLoader || rerun.powerLossInBootLoader;
  if (rerun.outcome == Outcome::kSuccess) {
    r.rerunRecovered = true;
    return r;
  }
  r.outcome = Outcome::kViolation;
  if (rerun.outcome == Outcome::kCleanFailure) {
    rerun.why = "failed: " + FatalMessage(w.program().console.output());
    rerun.cause = "rerun failed: " + FatalMessage(w.program().console.output());
    if (w.program().console.output().find("Complete: some units could not be updated") !=
        std::string::npos) {
      rerun.why = rerun.cause = "rerun failed: some units could not be updated";
    }
  }
  r.why = "rerun after \"" + FatalMessage(failure) + "\": " + rerun.why;
  r.cause = rerun.cause.rfind("rerun", 0) == 0 ? rerun.cause : "rerun: " + rerun.cause;
  PrintViolation(w, scenario, faults, r);
  return r;
}

const std::vector<std::string>& SingleFaultKinds() {
  // The last five matter most where replies are matched to a window of
  // requests (overlapped writes, a test jig's buffered chunks): a reply
  // overtaken by the next one, the overtaken one carrying a failure, an
  // echo of a request never sent, the previous block's echo again, and CTS
  // dropping in the middle of a transfer.
  static const std::vector<std::string> kinds = {
      "drop-reply",         "drop-request",    "corrupt",
      "truncate",           "garbage value=7", "junk-after",
      "late value=1500",    "twice",           "duplicate",
      "silence value=3000", "unplug",          "restart",
      "restart-after",      "late value=40",   "late value=40; hardware-failure",
      "stray-echo",         "echo-previous",   "cts-low value=1500"};
  return kinds;
}

void Tally::Add(const RunResult& r, const std::string& repeat) {
  ++runs;
  if (r.rerunRecovered) ++rerunRecovered;
  if (r.bootLoaderBroken) ++bootLoaderBroken;
  if (r.powerLossInBootLoader) ++powerLossInBootLoader;
  faults += r.faults;
  switch (r.outcome) {
    case Outcome::kSuccess:
      if (r.faults > 0) ++recovered;
      break;
    case Outcome::kCleanFailure:
      ++cleanFailures;
      break;
    case Outcome::kViolation: {
      ++violations;
      auto& [count, example] = causes[r.cause];
      if (count++ == 0) example = repeat;
      break;
    }
  }
}

void Tally::Merge(const Tally& other) {
  runs += other.runs;
  faults += other.faults;
  recovered += other.recovered;
  cleanFailures += other.cleanFailures;
  violations += other.violations;
  rerunRecovered += other.rerunRecovered;
  bootLoaderBroken += other.bootLoaderBroken;
  powerLossInBootLoader += other.powerLossInBootLoader;
  for (const auto& [cause, entry] : other.causes) {
    auto& [count, example] = causes[cause];
    if (count == 0) example = entry.second;
    count += entry.first;
  }
}

namespace {

// `positions` sorted without repeats, then, when `sample` is not 0 and
// fewer than them, `sample` of them spread evenly (the middle of each of
// `sample` equal stretches).
std::vector<uint64_t> SortedSample(std::vector<uint64_t> positions, uint64_t sample) {
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  if (sample == 0 || positions.size() <= sample) return positions;
  std::vector<uint64_t> sampled;
  for (uint64_t k = 0; k < sample; ++k) {
    sampled.push_back(positions[(2 * k + 1) * positions.size() / (2 * sample)]);
  }
  return sampled;
}

}  // namespace

std::vector<uint64_t> FaultPositions(const std::vector<std::string>& kinds, uint64_t perKind,
                                     uint64_t sample) {
  std::map<std::string, std::vector<uint64_t>> byKind;
  for (size_t i = 0; i < kinds.size(); ++i) byKind[kinds[i]].push_back(i + 1);
  std::vector<uint64_t> positions;
  for (const auto& [kind, numbers] : byKind) {
    const size_t count = numbers.size();
    if (perKind == 0 || count <= perKind) {
      positions.insert(positions.end(), numbers.begin(), numbers.end());
      continue;
    }
    for (uint64_t k = 0; k < perKind; ++k) {
      const size_t at =
          perKind == 1 ? count / 2 : static_cast<size_t>(k * (count - 1) / (perKind - 1));
      positions.push_back(numbers[at]);
    }
  }
  return SortedSample(std::move(positions), sample);
}

namespace {

// Requests numbered from 1: [first, last] of each transfer phase. A phase
// is a run of requests of one kind; a single request of another kind
// inside it (the commit after each block of buffered chunks) does not end it.
std::vector<std::pair<uint64_t, uint64_t>> Phases(const std::vector<std::string>& kinds) {
  std::vector<std::pair<uint64_t, uint64_t>> phases;
  size_t i = 0;
  while (i < kinds.size()) {
    const std::string& kind = kinds[i];
    size_t end = i + 1;
    for (;;) {
      while (end < kinds.size() && kinds[end] == kind) ++end;
      if (end + 1 < kinds.size() && kinds[end + 1] == kind && end > i + 1) {
        end += 1;
        continue;
      }
      break;
    }
    phases.emplace_back(i + 1, end);
    i = end;
  }
  return phases;
}

}  // namespace

uint64_t MainTransferRequest(const std::vector<std::string>& kinds) {
  std::pair<uint64_t, uint64_t> longest{1, 1};
  for (const auto& phase : Phases(kinds)) {
    if (phase.second - phase.first > longest.second - longest.first) longest = phase;
  }
  return longest.first + (longest.second - longest.first) / 2;
}

std::vector<uint64_t> PhasePositions(const std::vector<std::string>& kinds, uint64_t sample) {
  std::vector<uint64_t> positions;
  for (const auto& [first, last] : Phases(kinds)) {
    positions.push_back(first);
    positions.push_back(first + (last - first) / 2);
    positions.push_back(last);
  }
  return SortedSample(std::move(positions), sample);
}

namespace {

// Each rule of a rule set aimed at request `i`.
std::string AtRequest(const std::string& rules, uint64_t i) {
  std::string out;
  size_t start = 0;
  while (start <= rules.size()) {
    size_t end = rules.find(';', start);
    if (end == std::string::npos) end = rules.size();
    if (!out.empty()) out += ";";
    out += rules.substr(start, end - start) + " request=" + std::to_string(i);
    start = end + 1;
  }
  return out;
}

// How many phases a run has, and how many of them got a fault at their
// first, middle and last request.
void PrintCoverage(const UpdateScenario& scenario, const std::vector<std::string>& kinds,
                   const std::vector<uint64_t>& positions, size_t faultKinds, uint32_t randomRuns) {
  const std::vector<uint64_t> all = PhasePositions(kinds);
  const size_t phases = Phases(kinds).size();
  size_t covered = 0;
  for (uint64_t p : all) covered += std::binary_search(positions.begin(), positions.end(), p);
  std::printf(
      "campaign-coverage name=%s requests=%zu phases=%zu phase_positions=%zu covered=%zu "
      "fault_kinds=%zu positions=%zu random_runs=%u not_covered=%s\n",
      scenario.name.c_str(), kinds.size(), phases, all.size(), covered, faultKinds,
      positions.size(), randomRuns,
      covered == all.size() ? "none"
                            : (std::to_string(all.size() - covered) + "_phase_positions").c_str());
}

}  // namespace

Tally RunCampaign(const UpdateScenario& scenario, const Plan& plan) {
  Tally tally;
  const std::string repeat = "--scenario " + scenario.name;
  if (!plan.onlyRule.empty() || plan.onlySeed >= 0) {
    const RunFaults faults = plan.onlyRule.empty()
                                 ? RunFaults{"", kRandomOneIn, static_cast<uint32_t>(plan.onlySeed)}
                                 : RunFaults{plan.onlyRule, 0, 0};
    tally.Add(RunOnce(scenario, faults, nullptr, true), repeat);
    return tally;
  }
  // The clean run: it must succeed, and it fixes N and the kinds of request.
  std::vector<std::string> kinds;
  const RunResult clean = RunOnce(scenario, {}, &kinds, true);
  tally.Add(clean, repeat + " --random 0 --sample 1");
  if (clean.outcome != Outcome::kSuccess) {
    // Without faults the update must go through; a clean failure counts as
    // a violation here.
    if (clean.outcome == Outcome::kCleanFailure) {
      ++tally.violations;
      --tally.cleanFailures;
      tally.causes["the run without faults failed"] = {1, repeat};
    }
    std::printf("violation scenario=%s: the run without faults did not succeed\n",
                scenario.name.c_str());
    return tally;
  }
  const uint64_t n = clean.requests;
  const std::vector<uint64_t> positions =
      plan.mainTransfer ? std::vector<uint64_t>{MainTransferRequest(kinds)}
      : plan.phases     ? PhasePositions(kinds, plan.sample)
                        : FaultPositions(kinds, plan.perKind, plan.sample);
  // A long campaign says how far it got now and then, so that one cut
  // short still leaves its figures.
  const uint64_t planned =
      1 + (plan.singleFaults ? SingleFaultKinds().size() * positions.size() : 0) + plan.randomRuns;
  const auto progress = [&] {
    if (tally.runs % kProgressEvery != 0) return;
    std::printf(
        "campaign-progress name=%s runs=%llu of=%llu recovered=%llu clean_failures=%llu "
        "rerun_recovered=%llu violations=%llu\n",
        scenario.name.c_str(), static_cast<unsigned long long>(tally.runs),
        static_cast<unsigned long long>(planned), static_cast<unsigned long long>(tally.recovered),
        static_cast<unsigned long long>(tally.cleanFailures),
        static_cast<unsigned long long>(tally.rerunRecovered),
        static_cast<unsigned long long>(tally.violations));
    std::fflush(stdout);
  };
  for (const std::string& kind : SingleFaultKinds()) {
    if (!plan.singleFaults) break;
    for (uint64_t i : positions) {
      const std::string rule = AtRequest(kind, i);
      tally.Add(RunOnce(scenario, {rule, 0, 0}), repeat + " --fault '" + rule + "'");
      progress();
    }
  }
  for (uint32_t seed = 1; seed <= plan.randomRuns; ++seed) {
    tally.Add(RunOnce(scenario, {"", kRandomOneIn, seed}),
              repeat + " --seed " + std::to_string(seed));
    progress();
  }
  std::printf(
      "campaign-scenario name=%s requests=%llu runs=%llu recovered=%llu "
      "clean_failures=%llu rerun_recovered=%llu violations=%llu boot_loader_broken=%llu "
      "power_loss_in_boot_loader=%llu\n",
      scenario.name.c_str(), static_cast<unsigned long long>(n),
      static_cast<unsigned long long>(tally.runs), static_cast<unsigned long long>(tally.recovered),
      static_cast<unsigned long long>(tally.cleanFailures),
      static_cast<unsigned long long>(tally.rerunRecovered),
      static_cast<unsigned long long>(tally.violations),
      static_cast<unsigned long long>(tally.bootLoaderBroken),
      static_cast<unsigned long long>(tally.powerLossInBootLoader));
  PrintCoverage(scenario, kinds, plan.singleFaults ? positions : std::vector<uint64_t>{},
                plan.singleFaults ? SingleFaultKinds().size() : 0, plan.randomRuns);
  std::fflush(stdout);
  return tally;
}

}  // namespace kel::campaign
