#include "update/unit_type_prompt.h"

#include <string>

namespace kel {

namespace {

constexpr int kEndOfInput = -1;
// Longest answer kept; more digits cannot name a unit type anyway.
constexpr size_t kMaxDigits = 6;

bool KnownUnitType(uint8_t type) {
  return type == unitTypeDisplay || type == unitTypeTransmitter || type == unitTypeIOUnit ||
         type == unitTypeTestJig;
}

// One answer up to Enter: its digits, or -1 for anything that is not a
// number. Ends the run when input has ended.
int ReadNumber(Runtime& rt) {
  std::string digits;
  bool other = false;
  for (;;) {
    const int key = rt.out.ReadPromptKey();
    if (key == kEndOfInput) rt.FatalError("No unit type given: the input has ended");
    if (key == '\r' || key == '\n') break;
    if (key >= '0' && key <= '9') {
      if (digits.size() < kMaxDigits) digits += static_cast<char>(key);
    } else if (key != ' ') {
      other = true;
    }
  }
  rt.out.Print(Sink::kConsole, "\r\n");
  if (other || digits.empty()) return -1;
  return std::stoi(digits);
}

}  // namespace

void AskUnitType(Runtime& rt, UnitInfo& unit) {
  if (KnownUnitType(unit.unitType)) return;
  for (;;) {
    rt.out.Print(Sink::kConsole, "Please enter ponderix unit type (1=Display, 2=Transmitter, ",
                 "3=DisplayKZ6", "): ");
    const int answer = ReadNumber(rt);
    if (answer >= unitTypeDisplay && answer <= unitTypeIOUnit) {
      unit.unitType = static_cast<uint8_t>(answer);
      return;
    }
  }
}

}  // namespace kel
