#include "platform/record_folder.h"

namespace kel {

// A Windows program's folder is where its records have always been.
std::string RecordFolder(const std::string& besidePath, const std::string& /*programName*/,
                         Environment& /*env*/) {
  return besidePath;
}

}  // namespace kel
