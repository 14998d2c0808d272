#include "unit/version_text.h"

#include "runtime/text_format.h"

namespace kel {

std::string FormatVersionNumber(int version) {
  // The version comes from the unit and is signed on the wire; a negative
  // value keeps its sign in front instead of producing "-1.-5".
  std::string sign = version < 0 ? "-" : "";
  long long magnitude = version < 0 ? -static_cast<long long>(version) : version;
  return sign + std::to_string(magnitude / 100) + "." + ZeroPadded(magnitude % 100, 2);
}

std::string FormatVersion(int version, int release) {
  return FormatVersionNumber(version) + "r" + ZeroPadded(release, 2);
}

}  // namespace kel
