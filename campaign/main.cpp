// The fault campaign: every update scenario under every single fault at
// every request, then under random damage to the bytes on the line.
//   kel_campaign [--full] [--stride N] [--random N]
// The short form (the default) puts each fault at every 7th request and
// makes 100 random runs a scenario; --full puts it at every request and
// makes 1,000. Prints one line per scenario and the tally:
//   campaign runs=N faults=N recovered=N clean_failures=N violations=N
// and exits non-zero when any run broke the rules.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
  uint64_t stride = 7;
  uint32_t randomRuns = 100;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--full") {
      stride = 1;
      randomRuns = 1000;
    } else if (arg == "--stride" && i + 1 < argc) {
      stride = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--random" && i + 1 < argc) {
      randomRuns = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else {
      std::fprintf(stderr, "usage: kel_campaign [--full] [--stride N] [--random N]\n");
      return 2;
    }
  }
  if (stride == 0) stride = 1;
  std::signal(SIGALRM, OnAlarm);
  kel::campaign::Tally total;
  for (const kel::campaign::UpdateScenario& scenario : kel::campaign::UpdateScenarios()) {
    const kel::campaign::Tally t = kel::campaign::RunCampaign(scenario, stride, randomRuns);
    total.runs += t.runs;
    total.faults += t.faults;
    total.recovered += t.recovered;
    total.cleanFailures += t.cleanFailures;
    total.violations += t.violations;
  }
  std::printf("campaign runs=%llu faults=%llu recovered=%llu clean_failures=%llu violations=%llu\n",
              static_cast<unsigned long long>(total.runs),
              static_cast<unsigned long long>(total.faults),
              static_cast<unsigned long long>(total.recovered),
              static_cast<unsigned long long>(total.cleanFailures),
              static_cast<unsigned long long>(total.violations));
  return total.violations == 0 ? 0 : 1;
}
