#pragma once

#include "runtime/output.h"

namespace kel {

/// Prints the usage text on the console only (it is never logged).
void PrintUsage(Output& out);

}  // namespace kel
