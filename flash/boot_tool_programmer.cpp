#include "flash/boot_tool_programmer.h"

#include "flash/record_image.h"

namespace kel {

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

}  // namespace kel
