#pragma once

#include <string>

#include "unit/rpc_call.h"

namespace kel {

class Output;

/// " - GOT " + the reply's unit address (decimal) + " FC" + its service byte
/// (2 hex) + " $" + its command (4 hex): the middle of the lines that report
/// a reply other than the one expected ("BAD REPLY FOR", "ACK MISSING FOR").
std::string GotText(const ReplyHead& head);

/// Finishes such a report: `line` on the debug sink, then "!" on the
/// console, one mark per exchange that has to be tried again.
void ReportRetry(Output& out, const std::string& line);

}  // namespace kel
