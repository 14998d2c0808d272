#include "campaign/fault_campaign.h"

#include <unistd.h>

#include <cstdio>
#include <exception>

namespace kel::campaign {

namespace {

constexpr uint32_t kRandomOneIn = 400;
constexpr unsigned kRealTimeLimitS = 120;

const char* const kFatalPrefix = "Fatal Error: ";

RunResult Judge(World& w, const UpdateScenario& scenario, bool returned, int exitCode) {
  RunResult r;
  const std::string& console = w.console.output();
  if (returned) {
    if (console.find("Success: all operations are complete") == std::string::npos) {
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

RunResult RunOnce(const UpdateScenario& scenario, const RunFaults& faults, uint32_t timeLimitMs) {
  World w;
  std::string error;
  RunResult r;
  if (!w.Build(scenario.units, error) ||
      (!faults.rule.empty() && !w.AddFault(faults.rule, error))) {
    r.why = "bad set-up: " + error;
    return r;
  }
  if (faults.noiseOneIn != 0) w.CorruptBytes(faults.noiseOneIn, faults.seed);
  w.LimitTime(timeLimitMs);
  alarm(kRealTimeLimitS);  // a run that spins without its clock moving
  bool returned = false;
  int exitCode = 0;
  try {
    scenario.run(w);
    returned = true;
  } catch (const ExitRequested& exit) {
    exitCode = exit.code;
  } catch (const TimeLimitReached&) {
    r.why = "no end within " + std::to_string(timeLimitMs / 1000) + " s of virtual time";
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
  if (r.outcome == Outcome::kViolation) {
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

Tally RunCampaign(const UpdateScenario& scenario, uint64_t stride, uint32_t randomRuns) {
  Tally tally;
  // The clean run: it must succeed, and it fixes N and the time limit.
  const RunResult clean = RunOnce(scenario, {}, 24u * 3600 * 1000);
  tally.Add(clean);
  if (clean.outcome != Outcome::kSuccess) return tally;
  const uint64_t n = clean.requests;
  // Generous: the longest legitimate run is a few minutes of retries.
  const uint32_t limitMs = 30u * 60 * 1000;
  for (const std::string& kind : SingleFaultKinds()) {
    for (uint64_t i = 1; i <= n; i += stride) {
      tally.Add(RunOnce(scenario, {kind + " request=" + std::to_string(i), 0, 0}, limitMs));
    }
  }
  for (uint32_t seed = 1; seed <= randomRuns; ++seed) {
    tally.Add(RunOnce(scenario, {"", kRandomOneIn, seed}, limitMs));
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
