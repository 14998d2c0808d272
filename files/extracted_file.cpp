#include "files/extracted_file.h"

#include "platform/files.h"
#include "platform/system_error.h"
#include "runtime/text_format.h"

namespace kel {

namespace {

constexpr char kCompanionSuffix[] = ".000";
// Companion names tried before giving up.
constexpr int kCompanionNames = 100;
// A companion nobody has written for a day was left by a run that was
// killed: no copy takes that long (the largest log at the slowest speed
// takes about an hour and a quarter), so it is removed and its name used.
constexpr int64_t kStaleCompanionSeconds = 24 * 60 * 60;

bool MayBeReplaced(PathKind kind) {
  return kind == PathKind::kMissing || kind == PathKind::kRegular;
}

}  // namespace

ExtractedFile::~ExtractedFile() { Discard(); }

void ExtractedFile::Discard() {
  if (file_ == nullptr) return;
  std::fclose(file_);
  file_ = nullptr;
  DeleteFileAt(companion_);
}

void ExtractedFile::NoteWriteError() {
  if (writeError_.empty()) writeError_ = LastCErrorText();
}

bool ExtractedFile::Create(const std::string& path) {
  Discard();
  path_ = path;
  writeError_.clear();
  if (!MayBeReplaced(KindAtPath(path))) return false;
  // A companion standing at the name may be another station's copy of the
  // same unit's log, still being written: it is never touched, and the
  // next name is taken instead (.001, .002, ...). Nothing standing at a
  // name is ever opened. The copy is readable by its owner only.
  for (int copy = 0; copy < kCompanionNames; ++copy) {
    companion_ = path + (copy == 0 ? std::string(kCompanionSuffix) : "." + ZeroPadded(copy, 3));
    bool nameTaken = false;
    std::string error;
    file_ = CreateNewFileForWriting(companion_, nameTaken, error, true);
    if (nameTaken && RegularFileUntouchedFor(companion_, kStaleCompanionSeconds) &&
        DeleteFileAt(companion_)) {
      file_ = CreateNewFileForWriting(companion_, nameTaken, error, true);
    }
    if (file_ != nullptr || !nameTaken) break;
  }
  return file_ != nullptr;
}

bool ExtractedFile::Write(const uint8_t* data, size_t count) {
  if (file_ == nullptr || !writeError_.empty()) return false;
  if (std::fwrite(data, 1, count, file_) == count) return true;
  NoteWriteError();
  return false;
}

bool ExtractedFile::Close() {
  if (file_ == nullptr) return false;
  // The bytes still buffered meet the full disk here, if not before.
  if (std::fflush(file_) != 0) NoteWriteError();
  if (std::fclose(file_) != 0) NoteWriteError();
  file_ = nullptr;
  if (writeError_.empty() && MayBeReplaced(KindAtPath(path_)) && ReplaceFile(companion_, path_)) {
    return true;
  }
  DeleteFileAt(companion_);
  return false;
}

bool PrepareOutputFolder(const std::string& folder) {
  const PathKind kind = KindAtPath(folder);
  if (kind == PathKind::kFolder) return true;
  return kind == PathKind::kMissing && CreateFolders(folder) &&
         KindAtPath(folder) == PathKind::kFolder;
}

std::string SafeNamePart(const std::string& text) {
  std::string safe = text;
  for (char& c : safe) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == ' ' || c == '-' || c == '_';
    if (!plain) c = '_';
  }
  return safe;
}

}  // namespace kel
