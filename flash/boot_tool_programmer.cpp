#include "flash/boot_tool_programmer.h"

#include <cstring>
#include <string>

#include "flash/record_image.h"
#include "platform/files.h"
#include "runtime/output.h"
#include "unit/boot_tool.h"

namespace kel {

namespace {

// Reads at most `capacity` bytes (a longer file gives `capacity`, which the
// caller refuses); -1 when the file cannot be read. Only a regular file is
// read: a FIFO or a device left at the name would block or never end.
long ReadFileInto(Runtime& rt, const std::string& path, uint8_t* buffer, size_t capacity) {
  std::string content;
  const FileRead read = ReadRegularFile(path, capacity, content);
  if (read.outcome == ReadOutcome::kTooLarge) return static_cast<long>(capacity);
  if (read.outcome != ReadOutcome::kRead) {
    rt.out.lastErrorText = "cannot read " + path;
    return -1;
  }
  std::memcpy(buffer, content.data(), content.size());
  return static_cast<long>(content.size());
}

}  // namespace

const ImageRef* BootToolProgrammer::Accept(long count) {
  ref_ = ImageRef{};
  // A file as large as the buffer may have been longer still; its end marker
  // would then be missing or misplaced, so it is refused rather than trusted.
  if (count <= 0 || static_cast<unsigned long>(count) >= buffer_.size()) return nullptr;
  RecordImage image;
  if (!image.Parse(buffer_.data(), static_cast<size_t>(count))) return nullptr;
  // An image without records would start the unit on whatever its RAM holds.
  if (image.records().empty()) return nullptr;
  ref_.name = "KelBoot programmer";
  ref_.bytes = buffer_.data();
  ref_.size = static_cast<uint32_t>(count);
  return &ref_;
}

void LoadProgrammerFromBootTool(Runtime& rt, UnitInfo& unit, BootToolProgrammer& programmer) {
  const std::string tool = FindBootTool(rt);
  const std::string file = CreateBootToolExchangeFile(rt);
  RunBootTool(rt, tool, ProgrammerRequestArgument(unit, file),
              [&file] { RemoveBootToolExchangeFile(file); });

  const long count = ReadFileInto(rt, file, programmer.buffer(), programmer.capacity());
  RemoveBootToolExchangeFile(file);
  // Whatever the tool left is checked whole before a byte of it reaches the unit.
  const ImageRef* image = programmer.Accept(count);
  if (image == nullptr) {
    rt.FatalError("KelBoot did not produce a usable flash programmer");
  }
  unit.flashProgrammer = image;
}

}  // namespace kel
