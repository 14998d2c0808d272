#include "update/update_plan.h"

#include <algorithm>
#include <cstdio>

#include "runtime/runtime.h"
#include "unit/link_speed.h"
#include "unit/programmer_probe.h"
#include "unit/remote_units.h"
#include "unit/rpc_identification.h"
#include "unit/unit_summary.h"
#include "unit/update_acceptance.h"
#include "update/field_update.h"
#include "update/unit_plan.h"
#include "update/update_rules.h"

namespace kel {

namespace {

constexpr char kPlanLead[] = "-- planning the update: nothing is written, erased or restarted\r\n";
constexpr char kJigNotReached[] =
    "-- the unit on the KJ3 test jig's second port is reached through the jig's proxy, which a "
    "plan does not switch on: run the job to update it\r\n";

// What the plan found so far: the lines of the summary and the time in all.
struct Planning {
  RemoteFileAccess& files;
  std::vector<SummaryLine>& planned;
  double seconds = 0;

  Runtime& rt() { return files.link().runtime; }

  // The unit's heading comes first, so that what its planning says (the
  // files' comparison) stands under it.
  template <typename MakePlan>
  void Add(const UnitInfo& unit, MakePlan makePlan) {
    PrintPlanHeading(rt().out, unit);
    const UnitPlan plan = makePlan();
    PrintUnitPlan(rt().out, plan, rt().options.verify);
    planned.push_back(PlanSummaryLine(unit, plan));
    seconds += PlannedSeconds(plan, rt().options.verify);
  }

  void Refuse(const UnitInfo& unit, const std::string& refusal) {
    Add(unit, [&] {
      UnitPlan plan;
      plan.refusal = refusal;
      return plan;
    });
  }
};

// The speed update files travel at: the programming speed as far as the
// connected unit can go, else 115200 (as the speed change does).
int32_t UpdateFileSpeed(const Options& options, const UnitInfo& connected) {
  const int32_t rate = LimitUnitSpeed(connected, options.programmingBaudRate);
  return std::find(kUnitSpeeds.begin(), kUnitSpeeds.end(), rate) != kUnitSpeeds.end()
             ? rate
             : kFallbackSpeed;
}

void PlanDirect(Planning& p, UnitInfo& unit, bool forceBootLoader) {
  // On a USB virtual COM port the unit cannot enter its boot loader: it
  // takes update files.
  if (IsVComPort(p.files.link(), unit)) {
    if (!AcceptsUpdateFiles(p.rt().out, unit)) {
      p.Refuse(unit, kVcomNeedsUpdateFiles);
      return;
    }
    p.Add(unit, [&] {
      return PlanUnit(p.files, unit, true, false, UpdateFileSpeed(p.rt().options, unit));
    });
    return;
  }
  p.Add(unit, [&] { return PlanUnit(p.files, unit, false, forceBootLoader, 0); });
}

// A unit behind the connected one, as the field update would take it.
void PlanRemote(Planning& p, uint8_t address, int32_t speed) {
  Link& link = p.files.link();
  UnitInfo remote = RemoteRecord(address);
  if (!ReadUnitInfo(link, remote)) {
    p.Refuse(remote, "Unable to update Ponderix Unit: " + std::to_string(address));
    return;
  }
  ReadExtendedInfo(link, remote);
  ReadAdvancedInfo(link, remote);
  const std::string lead = "Ponderix Unit " + std::to_string(address);
  if (remote.connectionMode != modeApplication ||
      remote.softwareVersion < kNetworkSoftwareVersion) {
    p.Refuse(remote, lead + kRemoteNeedsNetworkSoftware);
  } else if (!AcceptsUpdateFiles(p.rt().out, remote)) {
    p.Refuse(remote, lead + kRemoteNeedsUpdateFileBootLoader);
  } else {
    p.Add(remote, [&] { return PlanUnit(p.files, remote, true, false, speed); });
  }
}

void PlanField(Planning& p, UnitInfo& connected) {
  Runtime& rt = p.rt();
  const bool immediate = NeedsImmediateUpdate(connected);
  if (immediate) {
    rt.out.Print(Sink::kInfo, "-- this KD3 display would be updated directly first\r\n");
    PlanDirect(p, connected, true);
    if (rt.options.firstUnitOnly) return;
  }
  // The table as the field update shows it, at the speed the units were
  // found at: the plan moves nothing.
  std::vector<uint8_t> table;
  if (!rt.options.firstUnitOnly && ListUnits(p.files.link(), connected, table, false)) {
    const int32_t speed = UpdateFileSpeed(rt.options, connected);
    for (uint8_t address : table) PlanRemote(p, address, speed);
    return;
  }
  if (!immediate) PlanDirect(p, connected, false);
}

void PlanProduction(Planning& p, UnitInfo& connected, const ProductionTarget& target) {
  Link& link = p.files.link();
  const bool connectedIsTarget =
      target.named ? MatchesProduct(connected, target.unitType, target.mcuA, target.mcuB)
                   : connected.cardNumber != kTestJigCard;
  if (connectedIsTarget) {
    PlanDirect(p, connected, false);
    return;
  }
  if (connected.cardNumber == kTestJigCard) {
    p.rt().out.Print(Sink::kInfo, kJigNotReached);
    if (!target.named) return;
  }
  UnitInfo found;
  if (target.named && SearchForMatchingRemoteUnit(link, connected, target.unitType, target.mcuA,
                                                  target.mcuB, found)) {
    p.Add(found, [&] {
      return PlanUnit(p.files, found, true, false, UpdateFileSpeed(p.rt().options, connected));
    });
    return;
  }
  p.rt().out.Print(Sink::kInfo, "-- no unit ", DescribeTarget(target),
                   " answers behind the connected unit\r\n");
}

void Finish(Planning& p) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", p.seconds);
  p.rt().out.Print(Sink::kInfo, "Estimated time in all: at least ", seconds, " s\r\n");
}

}  // namespace

void PlanUpdate(RemoteFileAccess& files, UnitInfo& connected, const ProductionTarget& target,
                std::vector<SummaryLine>& planned) {
  Planning p{files, planned};
  p.rt().out.Print(Sink::kInfo, kPlanLead);
  if (p.rt().options.manufacturingMode) {
    PlanProduction(p, connected, target);
  } else {
    PlanField(p, connected);
  }
  Finish(p);
}

void PlanFinishInProgrammer(RemoteFileAccess& files, UnitInfo& unit,
                            std::vector<SummaryLine>& planned) {
  Planning p{files, planned};
  Runtime& rt = p.rt();
  rt.out.Print(Sink::kInfo, kPlanLead,
               "-- the unit runs the flash programmer of an earlier run that was cut short: an "
               "update would finish it through that programmer, without restarting it first\r\n");
  // The caller has made sure that a note names the unit.
  const std::optional<NotedProgrammer> noted = NoteOfProgrammer(files.link());
  const bool bootLoaderDue = noted && noted->bootLoader != NotedProgrammer::BootLoader::kDone;
  p.Add(unit, [&] {
    return PlanUnitInProgrammer(files, unit, bootLoaderDue, noted && noted->softwareDue);
  });
  Finish(p);
}

}  // namespace kel
