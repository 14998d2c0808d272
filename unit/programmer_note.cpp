#include "unit/programmer_note.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "runtime/registry_settings.h"
#include "unit/link_speed.h"

namespace kel {

namespace {

// "SOFTWARE\Arkwend\Ponderix\ProgrammerCOM3": beside the remembered port.
constexpr char kNoteKey[] = "SOFTWARE\\Arkwend\\Ponderix\\ProgrammerCOM";
// The first word of every note; a note of another layout is not taken.
constexpr char kLayout[] = "P1";
constexpr size_t kFields = 20;
constexpr size_t kLongestCopyName = 96;

// The note's numbers, in order, with the range each must lie in.
struct Field {
  long low;
  long high;
};
constexpr Field kRanges[kFields] = {
    {1, 4000000},                // link speed
    {0, 255},                    // jig address
    {0, 65535},                  // card
    {0, 65535},                  // circuit
    {0, 255},                    // card suffix letter
    {0, 255},                    // card suffix number
    {-2147483647 - 1, 2147483647},  // serial number
    {mcuH8S2148, mcuLPC4357},    // MCU type
    {unitTypeDisplay, unitTypeTestJig},  // unit type
    {-128, 127},                 // boot-loader version
    {-128, 127},                 // boot-loader release
    {0, 255},                    // boot flags
    {0, 255},                    // unit flags
    {-32768, 32767},             // software version
    {0, 255},                    // software release
    {-128, 127},                 // build increment
    {0, 255},                    // Modbus address
    {0, 2},                      // boot loader: done, due, under way
    {0, 1},                      // software due
    {-1, 65535},                 // backup fields' check, -1 for none
};

// A programmer runs at one of the speeds a unit can be moved to, or at the
// 128000 of the oldest boot loaders' speed table.
bool KnownSpeed(long rate) {
  if (rate == 128000) return true;
  for (const int32_t speed : kUnitSpeeds) {
    if (speed == rate) return true;
  }
  return false;
}

}  // namespace

ProgrammerNote::ProgrammerNote(Registry& registry, int portNumber)
    : registry_(registry), path_(kNoteKey + std::to_string(portNumber)) {}

std::string ProgrammerNote::Format(const NotedProgrammer& noted) {
  const UnitInfo& u = noted.unit;
  char text[200];
  std::snprintf(text, sizeof text, "%s %ld %u %u %u %u %u %ld %d %u %d %d %u %u %d %u %d %u %d %d %ld",
                kLayout, static_cast<long>(noted.baudRate), noted.jigAddress, u.cardNumber,
                u.circuitCode, u.cardSuffixLetter, u.cardSuffixNumber,
                static_cast<long>(u.serialNumber), u.mcuType, u.unitType, u.bootLoaderVersion,
                u.bootLoaderRelease, u.bootFlags, u.unitFlags, u.softwareVersion,
                u.softwareRelease, u.buildIncrement, u.modbusAddress, static_cast<int>(noted.bootLoader),
                noted.softwareDue ? 1 : 0, static_cast<long>(noted.backupCheck));
  return std::string(text) + " " + (noted.keptCopy.empty() ? "-" : noted.keptCopy);
}

std::optional<NotedProgrammer> ProgrammerNote::Parse(const std::string& text) {
  // Only the exact layout Format writes: a word, then the numbers, single
  // spaces between, nothing after; every number in its range.
  const std::string lead = std::string(kLayout) + " ";
  if (text.compare(0, lead.size(), lead) != 0) return std::nullopt;
  std::vector<long> values;
  size_t at = lead.size();
  while (values.size() < kFields) {
    const char* start = text.c_str() + at;
    char* end = nullptr;
    if (*start != '-' && (*start < '0' || *start > '9')) return std::nullopt;
    const long value = std::strtol(start, &end, 10);
    const Field& range = kRanges[values.size()];
    if (end == start || value < range.low || value > range.high) return std::nullopt;
    values.push_back(value);
    at += static_cast<size_t>(end - start);
    if (values.size() < kFields) {
      if (at >= text.size() || text[at] != ' ') return std::nullopt;
      ++at;
    }
  }
  // Last the kept copy's name: letters, digits, '.', '-' and '_' only (it is
  // a file name in the record folder), or "-" for none.
  if (at >= text.size() || text[at] != ' ') return std::nullopt;
  const std::string copy = text.substr(at + 1);
  if (copy.empty() || copy.size() > kLongestCopyName) return std::nullopt;
  for (const char c : copy) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       c == '.' || c == '-' || c == '_';
    if (!plain) return std::nullopt;
  }
  if (!KnownSpeed(values[0]) || (copy[0] == '.')) return std::nullopt;
  NotedProgrammer noted;
  UnitInfo& u = noted.unit;
  noted.baudRate = static_cast<int32_t>(values[0]);
  noted.jigAddress = static_cast<uint8_t>(values[1]);
  u.cardNumber = static_cast<uint16_t>(values[2]);
  u.circuitCode = static_cast<uint16_t>(values[3]);
  u.cardSuffixLetter = static_cast<uint8_t>(values[4]);
  u.cardSuffixNumber = static_cast<uint8_t>(values[5]);
  u.serialNumber = static_cast<int32_t>(values[6]);
  u.mcuType = static_cast<int8_t>(values[7]);
  u.unitType = static_cast<uint8_t>(values[8]);
  u.bootLoaderVersion = static_cast<int8_t>(values[9]);
  u.bootLoaderRelease = static_cast<int8_t>(values[10]);
  u.bootFlags = static_cast<uint8_t>(values[11]);
  u.unitFlags = static_cast<uint8_t>(values[12]);
  u.softwareVersion = static_cast<int16_t>(values[13]);
  u.softwareRelease = static_cast<uint8_t>(values[14]);
  u.buildIncrement = static_cast<int8_t>(values[15]);
  u.modbusAddress = static_cast<uint8_t>(values[16]);
  noted.bootLoader = static_cast<NotedProgrammer::BootLoader>(values[17]);
  noted.softwareDue = values[18] != 0;
  noted.backupCheck = static_cast<int32_t>(values[19]);
  if (copy != "-") noted.keptCopy = copy;
  // Numbers written otherwise (leading zeros, "-0") are not this program's.
  if (Format(noted) != text) return std::nullopt;
  return noted;
}

std::optional<NotedProgrammer> ProgrammerNote::Read() const {
  return Parse(ReadRegistryString(registry_, path_));
}

void ProgrammerNote::Write(const NotedProgrammer& noted) {
  WriteRegistryString(registry_, path_, Format(noted));
}

void ProgrammerNote::Remove() { WriteRegistryString(registry_, path_, ""); }

}  // namespace kel
