#include "runtime/run_summary.h"

namespace kel {

namespace {

std::string OrUnknown(const std::string& text, const char* unknown) {
  return text.empty() ? unknown : text;
}

}  // namespace

std::string FormatSummaryLine(const SummaryLine& line) {
  std::string text = "   " + std::to_string(line.address) + "  " +
                     OrUnknown(line.unitType, "unknown unit") + "  " + OrUnknown(line.before, "?");
  if (!line.after.empty()) text += " -> " + line.after;
  return text + "  " + line.outcome;
}

}  // namespace kel
