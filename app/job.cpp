#include "app/job.h"

namespace kel {

void RunJob(Runtime& rt) {
  // No connection layer is linked in yet, so no unit can be reached.
  rt.FatalError("Unable to connect to Ponderix unit");
}

}  // namespace kel
