#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "flash/image_catalogue.h"
#include "runtime/runtime.h"
#include "unit/unit_info.h"

namespace kel {

/// The flash programmer that the external boot tool writes for a board with
/// test software: the buffer it is read into and the image reference the
/// unit record then points at. One instance per run, like the buffer.
class BootToolProgrammer {
 public:
  /// The most the tool's output file may fill.
  static constexpr size_t kCapacity = 1000001;

  BootToolProgrammer() : buffer_(kCapacity, 0) {}

  /// Where the tool's output is read to, and how much room there is.
  uint8_t* buffer() { return buffer_.data(); }
  size_t capacity() const { return buffer_.size(); }

  /// Checks what was read (`count` bytes, -1 after a read error) and returns
  /// the image to store as the unit's programmer, or null when it must not
  /// be downloaded: nothing read, a read error, a file that filled the whole
  /// buffer (it may have been cut short), a malformed container, or one
  /// without records.
  const ImageRef* Accept(long count);

 private:
  std::vector<uint8_t> buffer_;
  ImageRef ref_;
};

/// Has the boot tool write a flash programmer for `unit` (a board with test
/// software), reads it into `programmer` and makes it the unit's flash
/// programmer. A file that cannot be read, is empty, fills the whole buffer
/// or is not a well-formed programmer image ends the run before anything is
/// sent to the unit. The temporary file is deleted.
void LoadProgrammerFromBootTool(Runtime& rt, UnitInfo& unit, BootToolProgrammer& programmer);

}  // namespace kel
