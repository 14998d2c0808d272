#include "flash/reply_report.h"

#include "runtime/output.h"
#include "runtime/text_format.h"

namespace kel {

std::string GotText(const ReplyHead& head) {
  return " - GOT " + std::to_string(head.address) + " FC" + Hex(head.service, 2) + " $" +
         Hex(head.command, 4);
}

void ReportRetry(Output& out, const std::string& line) {
  out.Print(Sink::kDebug, line, "\r\n");
  out.Print(Sink::kConsole, "!");
}

}  // namespace kel
