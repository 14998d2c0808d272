#include "update/resource_file.h"

#include "link/packet_layer.h"
#include "update/unit_file_lines.h"

namespace kel {

namespace {

// File number, size and CRC around each file's data.
constexpr size_t kRecordOverhead = 8;

bool Append(const UnitFile& file, std::vector<uint8_t>& list, size_t capacity) {
  if (capacity - list.size() < file.size + kRecordOverhead) return false;
  list.push_back(static_cast<uint8_t>(file.fileNumber >> 8));
  list.push_back(static_cast<uint8_t>(file.fileNumber));
  for (int shift = 24; shift >= 0; shift -= 8) {
    list.push_back(static_cast<uint8_t>(file.size >> shift));
  }
  list.insert(list.end(), file.data, file.data + file.size);
  uint16_t crc = 0xFFFF;
  for (uint32_t i = 0; i < file.size; ++i) crc = Crc16Update(crc, file.data[i]);
  list.push_back(static_cast<uint8_t>(crc));
  list.push_back(static_cast<uint8_t>(crc >> 8));
  return true;
}

}  // namespace

bool BuildResourceList(Output& out, std::span<const UnitFile> image,
                       std::span<const UnitFile> fonts, std::vector<uint8_t>& list,
                       size_t capacity) {
  list.clear();
  for (const UnitFile& file : image) {
    PrintUnitFileLine(out, UnitFileKind::kImage, file);
    if (!Append(file, list, capacity)) return false;
  }
  for (const UnitFile& file : fonts) {
    PrintUnitFileLine(out, UnitFileKind::kFont, file);
    if (!Append(file, list, capacity)) return false;
  }
  if (capacity - list.size() >= 2) list.insert(list.end(), 2, 0);
  return true;
}

void InvertBytes(std::vector<uint8_t>& bytes) {
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(~byte);
}

}  // namespace kel
