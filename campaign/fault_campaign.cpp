#include "campaign/fault_campaign.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>

namespace kel::campaign {

namespace {

constexpr uint32_t kRandomOneIn = 400;
constexpr unsigned kRealTimeLimitS = 300;
// The longest legitimate pause between requests is a wait of about 90 s.
constexpr uint32_t kStallLimitMs = 10 * 60 * 1000;
constexpr uint32_t kTotalLimitMs = 48u * 3600 * 1000;

const char* const kFatalPrefix = "Fatal Error: ";

RunResult Judge(World& w, const UpdateScenario& scenario, bool returned, int exitCode) {
  RunResult r;
  const std::string& console = w.console.output();
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

RunResult RunOnce(const UpdateScenario& scenario, const RunFaults& faults,
                  std::vector<std::string>* kinds, bool showFailure) {
  World w;
  std::string error;
  RunResult r;
  if (!w.Build(scenario.units, error) ||
      (!faults.rule.empty() && !w.AddFault(faults.rule, error))) {
    r.why = "bad set-up: " + error;
    return r;
  }
  if (faults.noiseOneIn != 0) w.CorruptBytes(faults.noiseOneIn, faults.seed);
  if (kinds != nullptr) w.RecordRequestKinds(*kinds);
  w.LimitTime(kStallLimitMs, kTotalLimitMs);
  alarm(kRealTimeLimitS);  // a run that spins without its clock moving
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
  } catch (const std::exception& e) {
    r.why = std::string("exception: ") + e.what();
  }
  alarm(0);
  w.clock.SetAdvanceListener({});
  if (r.why.empty()) r = Judge(w, scenario, returned, exitCode);
  r.requests = w.requests();
  for (const sim::FaultRule& rule : w.network.faults().rules()) {
    if (rule.kind != sim::FaultKind::kNoise) r.faults += rule.fired;
  }
  r.faults += w.corrupted();
  if (r.outcome == Outcome::kViolation || (showFailure && r.outcome != Outcome::kSuccess)) {
    const std::string& console = w.console.output();
    const size_t tail = console.size() > 600 ? console.size() - 600 : 0;
    std::printf("violation scenario=%s fault=\"%s\" noise=%u seed=%u: %s\n--- console tail:\n%s\n",
                scenario.name.c_str(), faults.rule.c_str(), faults.noiseOneIn, faults.seed,
                r.why.c_str(), console.substr(tail).c_str());
  }
  return r;
}

const std::vector<std::string>& SingleFaultKinds() {
  static const std::vector<std::string> kinds = {
      "drop-reply", "drop-request",    "corrupt",      "truncate",  "garbage value=7",
      "junk-after", "late value=1500", "twice",        "duplicate", "silence value=3000",
      "unplug",     "restart",         "restart-after"};
  return kinds;
}

void Tally::Add(const RunResult& r) {
  ++runs;
  faults += r.faults;
  switch (r.outcome) {
    case Outcome::kSuccess:
      if (r.faults > 0) ++recovered;
      break;
    case Outcome::kCleanFailure:
      ++cleanFailures;
      break;
    case Outcome::kViolation:
      ++violations;
      break;
  }
}

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
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  if (sample == 0 || positions.size() <= sample) return positions;
  std::vector<uint64_t> sampled;
  for (uint64_t k = 0; k < sample; ++k) {
    sampled.push_back(positions[(2 * k + 1) * positions.size() / (2 * sample)]);
  }
  return sampled;
}

Tally RunCampaign(const UpdateScenario& scenario, uint64_t perKind, uint64_t sample,
                  uint32_t randomRuns, bool singleFaults) {
  Tally tally;
  // The clean run: it must succeed, and it fixes N and the kinds of request.
  std::vector<std::string> kinds;
  const RunResult clean = RunOnce(scenario, {}, &kinds, true);
  tally.Add(clean);
  if (clean.outcome != Outcome::kSuccess) {
    // Without faults the update must go through; a clean failure counts as
    // a violation here.
    if (clean.outcome == Outcome::kCleanFailure) {
      ++tally.violations;
      --tally.cleanFailures;
    }
    std::printf("violation scenario=%s: the run without faults did not succeed\n",
                scenario.name.c_str());
    return tally;
  }
  const uint64_t n = clean.requests;
  const std::vector<uint64_t> positions = FaultPositions(kinds, perKind, sample);
  for (const std::string& kind : SingleFaultKinds()) {
    if (!singleFaults) break;
    for (uint64_t i : positions) {
      tally.Add(RunOnce(scenario, {kind + " request=" + std::to_string(i), 0, 0}));
    }
  }
  for (uint32_t seed = 1; seed <= randomRuns; ++seed) {
    tally.Add(RunOnce(scenario, {"", kRandomOneIn, seed}));
  }
  std::printf(
      "campaign-scenario name=%s requests=%llu runs=%llu recovered=%llu "
      "clean_failures=%llu violations=%llu\n",
      scenario.name.c_str(), static_cast<unsigned long long>(n),
      static_cast<unsigned long long>(tally.runs), static_cast<unsigned long long>(tally.recovered),
      static_cast<unsigned long long>(tally.cleanFailures),
      static_cast<unsigned long long>(tally.violations));
  std::fflush(stdout);
  return tally;
}

}  // namespace kel::campaign
