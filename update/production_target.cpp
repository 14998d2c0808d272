#include "update/production_target.h"

#include <array>
#include <vector>

#include "runtime/parameter_file.h"
#include "runtime/text_format.h"
#include "unit/card_table.h"

namespace kel {

namespace {

constexpr std::array<const char*, 5> kUnitTypeNames = {"", "Display", "Transmitter", "IOUnit",
                                                       "TestJig"};
constexpr char kUnitTypeForms[] = "1-4, Display, Transmitter, IOUnit or TestJig";
constexpr char kMcuTypeForms[] =
    "one or two of 1-7, H8S2148, H8S2145, LPC2478, LPC4078, LPC1768, LPC4337, LPC4357";

// A whole decimal number from 1 to `highest`, or 0.
int SmallNumber(const std::string& text, int highest) {
  if (text.empty() || text.size() > 2) return 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
  }
  const int value = std::stoi(text);
  return value <= highest ? value : 0;
}

uint8_t ParseUnitType(const std::string& text) {
  if (const int code = SmallNumber(text, unitTypeTestJig)) return static_cast<uint8_t>(code);
  for (size_t code = 1; code < kUnitTypeNames.size(); ++code) {
    if (EqualsIgnoreCase(text, kUnitTypeNames[code])) return static_cast<uint8_t>(code);
  }
  if (EqualsIgnoreCase(text, "Test Jig")) return unitTypeTestJig;
  return unitTypeUnknown;
}

int8_t ParseMcuType(const std::string& text) {
  if (const int code = SmallNumber(text, mcuLPC4357)) return static_cast<int8_t>(code);
  for (int code = mcuH8S2148; code <= mcuLPC4357; ++code) {
    if (EqualsIgnoreCase(text, McuTypeName(code))) return static_cast<int8_t>(code);
  }
  return mcuUnknown;
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : text + ",") {
    if (c == ',' || c == ' ' || c == ';' || c == '\t') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  return parts;
}

[[noreturn]] void BadValue(Runtime& rt, const char* key, const std::string& value,
                           const char* forms) {
  rt.FatalError(std::string("Parameter file key ") + key + "=" + value + " is not valid (" + forms +
                ")");
}

}  // namespace

ProductionTarget ReadProductionTarget(Runtime& rt) {
  const std::string& file = rt.options.parameterFile;
  const std::string unitText = GetParam(rt, file, kParamUnitType);
  const std::string mcuText = GetParam(rt, file, kParamMcuType);
  ProductionTarget target;
  if (unitText.empty() && mcuText.empty()) return target;
  if (unitText.empty() || mcuText.empty()) {
    const char* missing = unitText.empty() ? kParamUnitType : kParamMcuType;
    rt.FatalError(std::string("Parameter file key ") + missing + " is missing (" + kParamUnitType +
                  " and " + kParamMcuType + " go together)");
  }

  target.unitType = ParseUnitType(unitText);
  if (target.unitType == unitTypeUnknown) BadValue(rt, kParamUnitType, unitText, kUnitTypeForms);
  const std::vector<std::string> mcus = SplitList(mcuText);
  if (mcus.empty() || mcus.size() > 2) BadValue(rt, kParamMcuType, mcuText, kMcuTypeForms);
  target.mcuA = ParseMcuType(mcus.front());
  target.mcuB = ParseMcuType(mcus.back());
  if (target.mcuA == mcuUnknown || target.mcuB == mcuUnknown) {
    BadValue(rt, kParamMcuType, mcuText, kMcuTypeForms);
  }
  target.named = true;
  return target;
}

std::string DescribeTarget(const ProductionTarget& target) {
  std::string text = kUnitTypeNames[target.unitType < kUnitTypeNames.size() ? target.unitType : 0];
  text += " (" + McuTypeName(target.mcuA);
  if (target.mcuB != target.mcuA) text += " or " + McuTypeName(target.mcuB);
  return text + ")";
}

}  // namespace kel
