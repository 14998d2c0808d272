#include "update/update_rules.h"

namespace kel {

bool IsPreProductionBoard(const UnitInfo& unit, bool updateFiles) {
  return (unit.bootFlags & kBootFlagPreProduction) ||
         ((unit.unitFlags & kUnitFlagCardTester) && updateFiles);
}

bool HasTestSoftware(const UnitInfo& unit) {
  return (unit.bootFlags & kBootFlagJtag) || (unit.unitFlags & kUnitFlagJtag) ||
         (unit.unitFlags & kUnitFlagCardTester);
}

std::string BootLoaderReason(const Options& options, const UnitInfo& unit, bool forced) {
  const bool older = unit.bootLoaderRelease < kNewestBootLoaderRelease;
  if (options.manufacturingMode) {
    if (options.writeAlways) return "because -w command line option specified";
    if (older) return "because it is older than the new version";
  }
  // The option is -l; the wording that names -u is what operators and
  // production scripts already know.
  if (options.updateBootLoader) {
    if (options.writeAlways) return "because -u and -w command line options specified";
    if (older)
      return "because -u command line option specified and it is older than the new version";
  }
  if (forced) return "(UpdateBootLoader parameter is true)";
  return {};
}

bool RefusesDowngrade(const UnitInfo& unit) {
  return unit.softwareVersion >= kNetworkSoftwareVersion && unit.buildIncrement > 1;
}

}  // namespace kel
