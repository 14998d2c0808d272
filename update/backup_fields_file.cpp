#include "update/backup_fields_file.h"

#include <cstdio>
#include <cstring>

#include "platform/files.h"

namespace kel {

namespace {

constexpr size_t kLargestCopy = 4096;

}  // namespace

BackupFieldsFile::BackupFieldsFile(const std::string& folder, const UnitInfo& unit) {
  if (folder.empty()) return;
  path_ = folder + PathSeparator() + "BackupFields-" + std::to_string(unit.cardNumber) + "-" +
          std::to_string(unit.serialNumber) + ".bin";
}

bool BackupFieldsFile::Keep(const uint8_t* bytes, size_t size, std::string& error) {
  if (path_.empty()) {
    error = "no folder for the program's records";
    return false;
  }
  std::string kept;
  if (ReadRegularFile(path_, kLargestCopy, kept, false).outcome == ReadOutcome::kRead) {
    return true;  // an earlier run's copy stays
  }
  const std::string folder = path_.substr(0, path_.find_last_of(PathSeparator()));
  CreateFolders(folder);
  bool taken = false;
  std::FILE* file = CreateNewFileForWriting(path_, taken, error, true);
  if (file == nullptr) {
    if (taken) error = path_ + " is in the way";
    return false;
  }
  const bool written = std::fwrite(bytes, 1, size, file) == size;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    error = "cannot write " + path_;
    DeleteFileAt(path_);
    return false;
  }
  return true;
}

bool BackupFieldsFile::Load(uint8_t* bytes, size_t size) const {
  if (path_.empty()) return false;
  std::string kept;
  if (ReadRegularFile(path_, kLargestCopy, kept, false).outcome != ReadOutcome::kRead ||
      kept.size() != size) {
    return false;
  }
  std::memcpy(bytes, kept.data(), size);
  return true;
}

void BackupFieldsFile::Forget() {
  if (!path_.empty()) DeleteFileAt(path_);
}

}  // namespace kel
