#include "runtime/version.h"

#include "runtime/text_format.h"

namespace kel {

std::string ProgramVersionText(int version, int release) {
  return std::to_string(version / 100) + "." + ZeroPadded(version % 100, 2) + "r" +
         ZeroPadded(release, 2);
}

}  // namespace kel
