// The commit the program was built from, as the build found it. Compiled
// on its own: the header it reads changes with every commit.
#include <string>

#include "kel_build_commit.h"
#include "runtime/version.h"

namespace kel {

std::string BuildCommitLine() {
  const std::string commit = KEL_BUILD_COMMIT;
  if (commit.empty()) return {};
  return "Built from commit " + commit + (KEL_BUILD_MODIFIED ? " with local changes" : "");
}

}  // namespace kel
