#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kel {

/// A log copied out of a unit into the folder on the computer. It is
/// written under a companion name beside its path (path + ".000"), created
/// new and never through a link, and moved over the path when closed, so
/// that what stood there before is replaced as a name, never written
/// through: a planted link, device or FIFO at the path is not followed, and
/// only a regular file (or nothing) may stand there at all. Only the owner
/// may read or write it. A copy that could not be written whole (a full
/// disk) is dropped at Close, so a complete earlier copy at the path stays.
/// A companion standing at the name is another run's and is left alone
/// (the next name is used), unless nobody has written it for a day: then a
/// killed run left it, and it is removed.
class ExtractedFile {
 public:
  ExtractedFile() = default;
  ~ExtractedFile();
  ExtractedFile(const ExtractedFile&) = delete;
  ExtractedFile& operator=(const ExtractedFile&) = delete;

  /// False when something other than a regular file stands at `path`, or
  /// the companion cannot be created.
  bool Create(const std::string& path);
  /// Appends `count` bytes; false when the system refuses them, and from
  /// then on for good.
  bool Write(const uint8_t* data, size_t count);
  /// Closes the file and moves it over the path; false when that fails or
  /// a write failed before (the companion is removed then).
  bool Close();
  /// Drops the copy (a log that did not come whole): the companion is
  /// removed and whatever stands at the path stays.
  void Discard();

  const std::string& path() const { return path_; }
  /// The system's words for the write that failed (buffered bytes reaching
  /// the disk at Close among them); empty while every write went through.
  const std::string& writeError() const { return writeError_; }

 private:
  void NoteWriteError();

  std::string path_;
  std::string companion_;
  std::string writeError_;
  std::FILE* file_ = nullptr;
};

/// Makes sure `folder` is a folder of its own, creating it when missing;
/// false when it cannot be created or something else (a link to elsewhere
/// among them) stands there.
bool PrepareOutputFolder(const std::string& folder);

/// A part of an output file name made of unit data, with everything but
/// letters, digits, spaces, '-' and '_' turned into '_', so that no unit
/// can name a path separator or a parent folder.
std::string SafeNamePart(const std::string& text);

}  // namespace kel
