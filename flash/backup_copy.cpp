#include "flash/backup_copy.h"

#include "unit/unit_info.h"

namespace kel {

namespace {

constexpr uint32_t kTwoBankFlashBase = 0x1A000000;

}  // namespace

bool BackupRegionOf(int8_t mcuType, BackupRegion& region) {
  switch (mcuType) {
    case mcuLPC2478:
    case mcuLPC1768:
    case mcuLPC4078:
      region = {0x300, 0x3FF};
      return true;
    case mcuLPC4337:
    case mcuLPC4357:
      region = {kTwoBankFlashBase + 0x400, kTwoBankFlashBase + 0x5FF};
      return true;
    default:
      return false;
  }
}

uint32_t FlashBaseOf(int8_t mcuType) {
  return mcuType == mcuLPC4337 || mcuType == mcuLPC4357 ? kTwoBankFlashBase : 0;
}

}  // namespace kel
