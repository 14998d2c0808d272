#include "platform/file_registry.h"

#include <vector>

#include "platform/files.h"

namespace kel {
namespace {

bool IsSoftwareRoot(const std::string& part) {
  static const char kRoot[] = "software";
  if (part.size() != sizeof(kRoot) - 1) return false;
  for (size_t i = 0; i < part.size(); ++i) {
    char c = part[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kRoot[i]) return false;
  }
  return true;
}

}  // namespace

std::string FileRegistry::ValueFile(const std::string& fullPath) const {
  if (base_.empty()) return {};
  // Split at backslashes (forward slashes too, so a part can never climb
  // out of the base folder) and drop empty, "." and ".." parts.
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i <= fullPath.size(); ++i) {
    if (i == fullPath.size() || fullPath[i] == '\\' || fullPath[i] == '/') {
      if (!part.empty() && part != "." && part != "..") parts.push_back(part);
      part.clear();
    } else {
      part += fullPath[i];
    }
  }
  // The value name is the text after the last separator; a path that ends
  // in a separator, "." or ".." names no value.
  size_t lastSlash = fullPath.find_last_of("\\/");
  std::string valueName = lastSlash == std::string::npos ? fullPath : fullPath.substr(lastSlash + 1);
  if (valueName.empty() || valueName == "." || valueName == "..") return {};
  // The per-user settings folder already is the "SOFTWARE" level.
  if (parts.size() > 1 && IsSoftwareRoot(parts.front())) parts.erase(parts.begin());
  std::string file = base_;
  for (const std::string& p : parts) file += PathSeparator() + p;
  return file;
}

std::string FileRegistry::ReadString(const std::string& fullPath) {
  std::string file = ValueFile(fullPath);
  if (file.empty()) return {};
  // Only a regular file, and no more than a value holds: a FIFO, a device,
  // a link (which the writer would never replace or remove) or a huge file
  // there is no value this program wrote.
  std::string value;
  if (ReadRegularFile(file, kRegistryValueMax, value, false).outcome != ReadOutcome::kRead) {
    return {};
  }
  // Hand-edited files usually end with a line break; it is not part of the value.
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
  // A zero byte ends a registry string.
  return value.substr(0, value.find('\0'));
}

void FileRegistry::WriteString(const std::string& fullPath, const std::string& value) {
  std::string file = ValueFile(fullPath);
  if (file.empty()) return;
  // Only a value file of our own making is replaced or deleted; anything
  // else standing there (a link, a FIFO, a folder) is left as it is.
  const PathKind kind = KindAtPath(file);
  if (kind != PathKind::kMissing && kind != PathKind::kRegular) return;
  if (value.empty()) {
    DeleteFileAt(file);
    return;
  }
  size_t folderEnd = file.find_last_of(PathSeparator());
  if (folderEnd != std::string::npos && !CreateFolders(file.substr(0, folderEnd))) return;
  // Written beside (created new, never through a link planted there) and
  // renamed over, so a reader never sees half a value.
  std::string temporary = file + ".new";
  std::string error;
  if (!CreateFreshFile(temporary, value, std::string(), error)) return;
  if (!ReplaceFile(temporary, file)) DeleteFileAt(temporary);
}

}  // namespace kel
