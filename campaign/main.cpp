// The fault campaign: every update scenario under single faults at chosen
// requests and under random damage to the bytes on the line; after every
// clean failure the same job again without faults must succeed.
//   kel_campaign [--proof | --full] [--per-kind N] [--sample N] [--phases]
//   [--random N] [--scenario NAME] [--random-only] [--fault RULES] [--seed N]
// The short form (the default, for CI) puts each fault kind once at the
// middle request of the run's longest transfer phase, and makes one random
// run a scenario.
// --proof puts each fault kind at the first, middle and last request of
// every transfer phase (--phases) and makes 1,000 random runs spread over
// the scenarios; --full puts every fault at every request and makes 1,000
// random runs a scenario (days for the field update). --per-kind N takes
// N requests of each kind of request (service and command; 0: all),
// --sample N at most N of those,
// --random N makes N random runs, --scenario NAME runs one scenario,
// --random-only leaves out the single faults; --fault RULES (rules
// separated by ';') or --seed N repeats one run, as a violation names it.
// Prints one line per scenario, its coverage, the violations by cause, and
// the tally:
//   campaign runs=N faults=N recovered=N clean_failures=N rerun_recovered=N violations=N
//            boot_loader_broken=N power_loss_in_boot_loader=N
// and exits non-zero when any run broke the rules.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "campaign/fault_campaign.h"

namespace {

// A run that spins without its clock moving is a hang the virtual time
// limit cannot see; the process ends itself instead of waiting for ever.
void OnAlarm(int) {
  const char text[] = "violation: a run took more than 120 s of real time\n";
  (void)!write(2, text, sizeof text - 1);
  _exit(3);
}

}  // namespace

int main(int argc, char** argv) {
  kel::campaign::Plan plan;
  std::string only;
  bool proof = false;
  bool randomGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool more = i + 1 < argc;
    if (arg == "--full" || arg == "--proof" || arg == "--phases" || arg == "--per-kind" ||
        arg == "--sample") {
      plan.mainTransfer = false;
    }
    if (arg == "--full") {
      plan.perKind = 0;
      plan.sample = 0;
      plan.randomRuns = 1000;
    } else if (arg == "--proof") {
      proof = true;
      plan.phases = true;
      plan.sample = 0;
    } else if (arg == "--phases") {
      plan.phases = true;
    } else if (arg == "--per-kind" && more) {
      plan.perKind = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--random-only") {
      plan.singleFaults = false;
    } else if (arg == "--sample" && more) {
      plan.sample = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--scenario" && more) {
      only = argv[++i];
    } else if (arg == "--random" && more) {
      plan.randomRuns = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
      randomGiven = true;
    } else if (arg == "--fault" && more) {
      plan.onlyRule = argv[++i];
    } else if (arg == "--seed" && more) {
      plan.onlySeed = std::strtoll(argv[++i], nullptr, 10);
    } else {
      std::fprintf(stderr,
                   "usage: kel_campaign [--proof | --full] [--per-kind N] [--sample N] "
                   "[--phases] [--random N] [--scenario NAME] [--random-only] [--fault RULES] "
                   "[--seed N]\n");
      return 2;
    }
  }
  std::signal(SIGALRM, OnAlarm);
  const std::vector<kel::campaign::UpdateScenario> scenarios = kel::campaign::UpdateScenarios();
  if (proof && !randomGiven) {
    // 1,000 random runs, spread over the scenarios when all run.
    plan.randomRuns = only.empty()
                          ? static_cast<uint32_t>((1000 + scenarios.size() - 1) / scenarios.size())
                          : 1000;
  }
  kel::campaign::Tally total;
  for (const kel::campaign::UpdateScenario& scenario : scenarios) {
    if (!only.empty() && scenario.name != only) continue;
    total.Merge(kel::campaign::RunCampaign(scenario, plan));
  }
  for (const auto& [cause, entry] : total.causes) {
    std::printf("campaign-violations count=%llu cause=\"%s\" repeat: kel_campaign %s\n",
                static_cast<unsigned long long>(entry.first), cause.c_str(), entry.second.c_str());
  }
  std::printf(
      "campaign runs=%llu faults=%llu recovered=%llu clean_failures=%llu rerun_recovered=%llu "
      "violations=%llu boot_loader_broken=%llu power_loss_in_boot_loader=%llu\n",
      static_cast<unsigned long long>(total.runs), static_cast<unsigned long long>(total.faults),
      static_cast<unsigned long long>(total.recovered),
      static_cast<unsigned long long>(total.cleanFailures),
      static_cast<unsigned long long>(total.rerunRecovered),
      static_cast<unsigned long long>(total.violations),
      static_cast<unsigned long long>(total.bootLoaderBroken),
      static_cast<unsigned long long>(total.powerLossInBootLoader));
  return total.violations == 0 ? 0 : 1;
}
