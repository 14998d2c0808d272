#include "update/backup_fields_file.h"

#include <cstring>

#include "platform/files.h"

namespace kel {

namespace {

constexpr size_t kLargestCopy = 4096;
constexpr char kLead[] = "BackupFields-";
constexpr char kSuffix[] = ".bin";
constexpr size_t kUniquePart = 6;

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

BackupFieldsFile::BackupFieldsFile(const std::string& folder, const UnitInfo& unit)
    : folder_(folder),
      prefix_(std::string(kLead) + std::to_string(unit.cardNumber) + "-" +
              std::to_string(unit.serialNumber) + "-") {}

bool BackupFieldsFile::IsCopyName(const std::string& name) {
  // BackupFields-<card>-<serial, maybe negative>-<six letters or digits>.bin
  const size_t lead = sizeof kLead - 1;
  const size_t tail = sizeof kSuffix - 1 + kUniquePart;
  if (name.size() < lead + tail + 3 || name.compare(0, lead, kLead) != 0 ||
      name.compare(name.size() - (sizeof kSuffix - 1), std::string::npos, kSuffix) != 0) {
    return false;
  }
  for (size_t i = name.size() - tail; i < name.size() - (sizeof kSuffix - 1); ++i) {
    const char c = name[i];
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum) return false;
  }
  const std::string middle = name.substr(lead, name.size() - tail - lead);
  // <card>-<serial>-
  if (middle.empty() || middle.back() != '-') return false;
  const size_t dash = middle.find('-');
  if (dash == std::string::npos || !AllDigits(middle.substr(0, dash))) return false;
  std::string serial = middle.substr(dash + 1, middle.size() - dash - 2);
  if (!serial.empty() && serial[0] == '-') serial.erase(0, 1);
  return AllDigits(serial);
}

std::string BackupFieldsFile::name() const {
  const size_t slash = path_.find_last_of(PathSeparator());
  return slash == std::string::npos ? path_ : path_.substr(slash + 1);
}

bool BackupFieldsFile::Keep(const uint8_t* bytes, size_t size, std::string& error) {
  if (folder_.empty()) {
    error = "no folder for the program's records";
    return false;
  }
  CreateFolders(folder_);
  std::string path;
  if (!CreateUniqueFile(folder_, prefix_, kSuffix, path, error)) return false;
  if (!OverwriteRegularFile(path, std::string(reinterpret_cast<const char*>(bytes), size),
                            error)) {
    DeleteFileAt(path);
    return false;
  }
  path_ = path;
  return true;
}

bool BackupFieldsFile::Adopt(const std::string& name, uint8_t* bytes, size_t size) {
  if (folder_.empty() || !IsCopyName(name) || name.compare(0, prefix_.size(), prefix_) != 0) {
    return false;
  }
  const std::string path = folder_ + PathSeparator() + name;
  std::string kept;
  if (!IsPrivateFile(path) ||
      ReadRegularFile(path, kLargestCopy, kept, false).outcome != ReadOutcome::kRead ||
      kept.size() != size) {
    return false;
  }
  std::memcpy(bytes, kept.data(), size);
  path_ = path;
  return true;
}

void BackupFieldsFile::Forget() {
  if (!path_.empty()) DeleteFileAt(path_);
  path_.clear();
}

std::vector<std::string> BackupFieldsFile::EarlierCopies() const {
  std::vector<std::string> copies;
  std::vector<FolderEntry> entries;
  if (folder_.empty() || !ListFolder(folder_, prefix_ + "*" + kSuffix, entries)) return copies;
  for (const FolderEntry& entry : entries) {
    const std::string path = folder_ + PathSeparator() + entry.name;
    if (IsCopyName(entry.name) && path != path_) copies.push_back(path);
  }
  return copies;
}

}  // namespace kel
