// rand_s, the C runtime's generator backed by the system's random source.
#define _CRT_RAND_S
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <windows.h>

#include <cstdio>

// windows.h maps ReplaceFile onto its own ReplaceFileA; ours is a different call.
#undef ReplaceFile

#include "platform/files.h"
#include "platform/reparse_tags.h"
#include "platform/signals.h"
#include "platform/system_error.h"
#include "platform/wildcard_match.h"

namespace kel {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

// The reparse tag of the entry at `path` itself (not followed); 0 when it
// cannot be read.
DWORD ReparseTagAt(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search =
      FindFirstFileExA(path.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? found.dwReserved0 : 0;
}

// Only a reparse point that names another path is a link. A folder or file
// under a OneDrive sync root is a reparse point too (a cloud placeholder),
// and is used as what it is. A tag that cannot be read counts as a link.
bool IsLink(const std::string& path, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  const DWORD tag = ReparseTagAt(path);
  return tag == 0 || ReparseTagIsLink(tag);
}

// The same for an open handle.
bool HandleIsLink(HANDLE file, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  FILE_ATTRIBUTE_TAG_INFO info = {};
  if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &info, sizeof info)) return true;
  return ReparseTagIsLink(info.ReparseTag);
}

FileRead Failed(DWORD code) {
  FileRead result;
  result.outcome = ReadOutcome::kFailed;
  result.systemText = SystemErrorText(code);
  return result;
}

FileRead NotRegular(PathKind kind) {
  FileRead result;
  result.outcome = ReadOutcome::kNotRegular;
  result.kind = kind;
  return result;
}

}  // namespace

FileRead ReadRegularFile(const std::string& path, size_t limit, std::string& content,
                         bool followLinks) {
  content.clear();
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) return Failed(code);
    FileRead missing;
    missing.outcome = ReadOutcome::kMissing;
    missing.kind = PathKind::kMissing;
    return missing;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return NotRegular(PathKind::kFolder);
  if (!followLinks && IsLink(path, attributes)) return NotRegular(PathKind::kLink);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Failed(GetLastError());
  // A device name (COM1, CON, NUL) opens too; only a disk file is read.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return NotRegular(PathKind::kDevice);
  }
  FileRead result;
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      result = Failed(GetLastError());
      break;
    }
    if (got == 0) break;
    content.append(buffer, got);
    if (content.size() > limit) {
      result.outcome = ReadOutcome::kTooLarge;
      content.clear();
      break;
    }
  }
  CloseHandle(file);
  return result;
}

PathKind KindAtPath(const std::string& path) {
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  if (IsLink(path, attributes)) return PathKind::kLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kFolder;
  return PathKind::kRegular;
}

std::string ResolveLinks(const std::string& path) { return path; }

bool IsCharacterDevice(const std::string&) { return false; }

bool CreateFreshFile(const std::string& path, const std::string& content, const std::string&,
                     std::string& error) {
  // A leftover plain file may go; a folder or a link (reparse point) stays,
  // and the create below then fails instead of writing through it.
  const DWORD attributes = Attributes(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      !IsLink(path, attributes)) {
    DeleteFileA(path.c_str());
  }
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = SystemErrorText(GetLastError());
    return false;
  }
  bool ok = true;
  size_t written = 0;
  while (ok && written < content.size()) {
    DWORD chunk = 0;
    const DWORD ask = static_cast<DWORD>(content.size() - written);
    ok = WriteFile(file, content.data() + written, ask, &chunk, nullptr) && chunk > 0;
    written += chunk;
  }
  if (!ok) error = SystemErrorText(GetLastError());
  if (!CloseHandle(file) && ok) {
    ok = false;
    error = SystemErrorText(GetLastError());
  }
  if (!ok) DeleteFileA(path.c_str());
  return ok;
}

bool OverwriteRegularFile(const std::string& path, const std::string& content, std::string& error) {
  // A reparse point is opened as itself, not followed, and refused below.
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = SystemErrorText(GetLastError());
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  bool ok = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
            !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  if (!ok) {
    error = "not a regular file";
  } else if (!SetEndOfFile(file)) {
    ok = false;
    error = SystemErrorText(GetLastError());
  }
  size_t written = 0;
  while (ok && written < content.size()) {
    DWORD chunk = 0;
    const DWORD ask = static_cast<DWORD>(content.size() - written);
    ok = WriteFile(file, content.data() + written, ask, &chunk, nullptr) && chunk > 0;
    if (!ok) error = SystemErrorText(GetLastError());
    written += chunk;
  }
  CloseHandle(file);
  return ok;
}

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
  DWORD failure = ERROR_PATH_NOT_FOUND;
  if (!FolderExists(path) && !CreateDirectoryA(path.c_str(), nullptr)) failure = GetLastError();
  if (FolderExists(path)) return true;
  // The final check overwrote the reason: the caller reports the creation's.
  SetLastError(failure);
  return false;
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

bool CreateUniqueFile(const std::string& folder, const std::string& prefix,
                      const std::string& suffix, std::string& path, std::string& error) {
  std::string base = folder;
  if (!base.empty() && base.back() != '\\' && base.back() != '/' && base.back() != ':') {
    base += '\\';
  }
  // 64 random bits per name, and CREATE_NEW never opens what already
  // stands there: a taken name only means another draw.
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned int high = 0;
    unsigned int low = 0;
    if (rand_s(&high) != 0 || rand_s(&low) != 0) {
      error = "no random numbers available";
      return false;
    }
    char digits[17];
    std::snprintf(digits, sizeof(digits), "%08X%08X", high, low);
    const std::string name = base + prefix + digits + suffix;
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      path = name;
      return true;
    }
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
      error = SystemErrorText(code);
      return false;
    }
  }
  error = "no free file name";
  return false;
}

std::string UserTempFolder(Environment&) {
  // The user's own temporary folder (TMP, TEMP, the profile's), which the
  // system resolves; it ends with a backslash.
  char buffer[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof(buffer), buffer);
  if (length == 0 || length > MAX_PATH) return ".";
  return std::string(buffer, length);
}

std::FILE* CreateNewFileForWriting(const std::string& path, bool& nameTaken, std::string& error,
                                   bool /*ownerOnly*/) {
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

AppendOutcome AppendUnderLock(const std::string& path, const std::string& header,
                              const std::string& text, std::string& error) {
  const DWORD before = Attributes(path);
  if (before != INVALID_FILE_ATTRIBUTES &&
      ((before & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) || IsLink(path, before))) {
    return AppendOutcome::kNotRegular;
  }
  // A reparse point planted after the check is opened as itself, not
  // followed, and then refused below.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = SystemErrorText(GetLastError());
    return AppendOutcome::kFailed;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      HandleIsLink(file, info.dwFileAttributes)) {
    CloseHandle(file);
    return AppendOutcome::kNotRegular;
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A cloud placeholder (a file under a OneDrive sync root) is written
    // through the filter that keeps it, not as the placeholder itself: it
    // is opened again as a plain file, and taken only when that is the
    // same file (no link swapped in meanwhile).
    HANDLE plain =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    BY_HANDLE_FILE_INFORMATION again;
    const bool same = plain != INVALID_HANDLE_VALUE && GetFileInformationByHandle(plain, &again) &&
                      again.dwVolumeSerialNumber == info.dwVolumeSerialNumber &&
                      again.nFileIndexHigh == info.nFileIndexHigh &&
                      again.nFileIndexLow == info.nFileIndexLow;
    CloseHandle(file);
    if (!same) {
      if (plain != INVALID_HANDLE_VALUE) CloseHandle(plain);
      return AppendOutcome::kNotRegular;
    }
    file = plain;
  }
  AppendOutcome outcome = AppendOutcome::kAppended;
  OVERLAPPED whole = {};
  // Asked for without waiting, for a bounded time: another program holding
  // it must neither hold up the run nor keep a stop from ending it.
  bool locked = false;
  for (int tries = 0; tries < kAppendLockTries && !locked; ++tries) {
    locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                        MAXDWORD, &whole) != 0;
    if (locked) break;
    if (GetLastError() != ERROR_LOCK_VIOLATION) {
      error = SystemErrorText(GetLastError());
      CloseHandle(file);
      return AppendOutcome::kFailed;
    }
    ExitIfStopRequested();
    Sleep(kAppendLockPauseMs);
  }
  if (!locked) {
    error = kAppendLockedText;
    CloseHandle(file);
    return AppendOutcome::kFailed;
  }
  // Every writer holds the lock, so the end found under it is where this
  // write goes.
  LARGE_INTEGER size = {};
  DWORD written = 0;
  OVERLAPPED end = {};
  if (!GetFileSizeEx(file, &size)) {
    error = SystemErrorText(GetLastError());
    outcome = AppendOutcome::kFailed;
  } else {
    const std::string content = size.QuadPart == 0 ? header + text : text;
    end.Offset = static_cast<DWORD>(size.QuadPart & 0xFFFFFFFF);
    end.OffsetHigh = static_cast<DWORD>(size.QuadPart >> 32);
    if (!WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, &end) ||
        written != content.size()) {
      error = SystemErrorText(GetLastError());
      outcome = AppendOutcome::kFailed;
      // A write cut short (a full disk) leaves part of a row, which the
      // next row would be glued to: the file goes back to where this one
      // began, still under the lock.
      if (SetFilePointerEx(file, size, nullptr, FILE_BEGIN)) SetEndOfFile(file);
    }
  }
  UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
  CloseHandle(file);
  return outcome;
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

bool RegularFileUntouchedFor(const std::string& path, int64_t seconds) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0 ||
      IsLink(path, data.dwFileAttributes)) {
    return false;
  }
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  // FILETIME counts 100 ns intervals.
  return (ticks(now) - ticks(data.ftLastWriteTime)) / 10000000 >= seconds;
}

bool IsPrivateFile(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  return (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0 &&
         !IsLink(path, data.dwFileAttributes);
}

}  // namespace kel
