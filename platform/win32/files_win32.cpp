#include <fcntl.h>
#include <io.h>
#include <windows.h>

// windows.h maps ReplaceFile onto its own ReplaceFileA; ours is a different call.
#undef ReplaceFile

#include "platform/files.h"
#include "platform/system_error.h"
#include "platform/wildcard_match.h"

namespace kel {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

}  // namespace

char PathSeparator() { return '\\'; }

bool IsAbsolutePath(const std::string& path) {
  if (!path.empty() && IsSeparator(path[0])) return true;
  return path.size() >= 2 && path[1] == ':';
}

std::string CurrentDirectory() {
  char buffer[MAX_PATH + 1] = {};
  DWORD length = GetCurrentDirectoryA(sizeof(buffer), buffer);
  return length > 0 && length < sizeof(buffer) ? std::string(buffer, length) : std::string();
}

bool FileExists(const std::string& path) {
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateFolders(const std::string& path) {
  if (path.empty()) return false;
  // Parents first; a drive ("C:") or share root needs no creating, and a
  // failure there shows in the final check.
  for (size_t at = 1; at < path.size(); ++at) {
    if (!IsSeparator(path[at])) continue;
    std::string parent = path.substr(0, at);
    if (!FolderExists(parent)) CreateDirectoryA(parent.c_str(), nullptr);
  }
  if (!FolderExists(path)) CreateDirectoryA(path.c_str(), nullptr);
  return FolderExists(path);
}

bool ListFolder(const std::string& folder, const std::string& pattern,
                std::vector<FolderEntry>& entries) {
  // Everything is listed and matched here, not by FindFirstFile's own
  // pattern, which also matches the short 8.3 names ("*.log" would find
  // "a.logx") and would make the two platforms list different names.
  std::string all = (folder.empty() ? std::string(".") : folder) + "\\*";
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(all.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (!WildcardMatch(pattern, name, false)) continue;
    FolderEntry entry;
    entry.name = name;
    entry.isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.isHidden = (found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
    entry.isSystem = (found.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0;
    entries.push_back(entry);
  } while (FindNextFileA(search, &found));
  bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(search);
  return complete;
}

int CreateExclusiveFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  // A C runtime descriptor carries the handle, so callers hold a plain int.
  int handle = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR);
  if (handle < 0) CloseHandle(file);
  return handle;
}

std::FILE* CreateNewFileForWriting(const std::string& path, bool& nameTaken, std::string& error) {
  nameTaken = false;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    nameTaken = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
    error = SystemErrorText(code);
    return nullptr;
  }
  const int handle = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
  std::FILE* stream = handle >= 0 ? _fdopen(handle, "wb") : nullptr;
  if (stream == nullptr) {
    error = SystemErrorText(GetLastError());
    if (handle >= 0) {
      _close(handle);
    } else {
      CloseHandle(file);
    }
    DeleteFileA(path.c_str());
  }
  return stream;
}

void CloseExclusiveFile(int handle) {
  if (handle >= 0) _close(handle);
}

bool DeleteFileAt(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool MakeWritable(const std::string& path) {
  DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != 0;
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace kel
