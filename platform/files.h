#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/environment.h"

namespace kel {

/// One entry of a folder listing.
struct FolderEntry {
  std::string name;
  bool isFolder = false;
  bool isHidden = false;  ///< Windows hidden attribute; dot files on POSIX
  bool isSystem = false;  ///< Windows system attribute; never on POSIX
};

/// What stands at a path.
enum class PathKind {
  kMissing,
  kRegular,
  kFolder,
  kDevice,  ///< a character or block device (a terminal, /dev/zero)
  kFifo,    ///< a named pipe
  kSocket,
  kBrokenLink,  ///< a link to nothing
  kLink,        ///< a link (from KindAtPath, which does not follow links)
  kOther,
};

/// What stands at `path` itself, a link not followed.
PathKind KindAtPath(const std::string& path);

/// True when `path` (a link followed) is a character device, such as a
/// serial port's; always false on Windows, where ports go by COM names.
bool IsCharacterDevice(const std::string& path);

/// How reading a file went.
enum class ReadOutcome { kRead, kMissing, kNotRegular, kTooLarge, kFailed };

struct FileRead {
  ReadOutcome outcome = ReadOutcome::kRead;
  PathKind kind = PathKind::kRegular;  ///< what stands at the path (through a link)
  std::string systemText;              ///< the system's words for kFailed
};

/// Reads the regular file at `path` (a link is followed to the file it
/// names) into `content`, never blocking on what stands there: anything but
/// a regular file is refused by its kind before it is opened, and a file of
/// more than `limit` bytes is refused after reading no more than that.
/// With `followLinks` false a link at `path` is refused as a link.
FileRead ReadRegularFile(const std::string& path, size_t limit, std::string& content,
                         bool followLinks = true);

/// The file `path` names, links followed to their end; `path` itself when
/// it is no link or the link cannot be followed (or links are not resolved
/// on this platform).
std::string ResolveLinks(const std::string& path);

/// Creates `path` as a new file holding `content`, never through a link and
/// never over anything that stands there, except a stale regular file of
/// this user, which is removed first. With `like` naming an existing file,
/// the new one gets its owner, group and permissions (as far as this user
/// may give them), so that it can replace that file. False with the
/// system's text in `error`; nothing half-written is left behind.
bool CreateFreshFile(const std::string& path, const std::string& content, const std::string& like,
                     std::string& error);

/// Writes `content` over the regular file at `path` where it stands (its
/// name, owner and permissions stay), never through a link and never into
/// anything but a regular file: for a file that may be written but not
/// replaced. Not safe against a crash half way; false with the system's
/// text in `error`.
bool OverwriteRegularFile(const std::string& path, const std::string& content, std::string& error);

/// AppendUnderLock asks for the lock this many times, this far apart (about
/// 5 s in all), and gives up with kAppendLockedText when another program
/// holds it all that time.
constexpr int kAppendLockTries = 100;
constexpr int kAppendLockPauseMs = 50;
constexpr char kAppendLockedText[] = "locked by another program";

/// How appending to a shared record file went.
enum class AppendOutcome { kAppended, kNotRegular, kFailed };

/// Appends to the file at `path` (created when missing) in one write while
/// holding an exclusive lock on the whole file, so that records written by
/// concurrent processes never interleave. `header` goes first when the file
/// is empty at that moment, so exactly one process writes it. Only a
/// regular file is appended to: a link, device, FIFO or folder standing at
/// the path is left alone (kNotRegular) and nothing there is opened in a
/// way that could block. kFailed gives the system's text in `error` (or
/// kAppendLockedText); a write cut short is taken back, so the file never
/// keeps part of a record. A stop signal ends the wait for the lock.
AppendOutcome AppendUnderLock(const std::string& path, const std::string& header,
                              const std::string& text, std::string& error);

/// The path separator of this platform ('\\' on Windows, '/' on POSIX).
char PathSeparator();
/// True when `path` is absolute on this platform.
bool IsAbsolutePath(const std::string& path);
std::string CurrentDirectory();

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
/// Creates the folder and any missing parents; true when it exists afterwards.
bool CreateFolders(const std::string& path);
/// Lists the entries of `folder` whose names match `pattern` ('*' and '?').
/// Returns false only when the folder cannot be listed; no match is success.
bool ListFolder(const std::string& folder, const std::string& pattern,
                std::vector<FolderEntry>& entries);
/// Creates a new file, failing when it already exists (owner read and write).
/// The file is left open until CloseExclusiveFile; returns a handle >= 0 or -1.
int CreateExclusiveFile(const std::string& path);
void CloseExclusiveFile(int handle);
/// Creates a file that must not exist yet and opens it for writing in
/// binary mode. Whatever already stands at the path (a file, a link, a
/// device) is left alone: then null with `nameTaken` set; any other failure
/// gives null with the system's text in `error`. With `ownerOnly` only this
/// user may read or write the file, whatever the umask (POSIX; on Windows
/// the file gets the folder's inherited access as always).
std::FILE* CreateNewFileForWriting(const std::string& path, bool& nameTaken, std::string& error,
                                   bool ownerOnly = false);
bool DeleteFileAt(const std::string& path);
/// Creates a new, empty file in `folder` named `prefix`, random characters
/// no other user can predict, then `suffix`; only this user may read or
/// write it, and nothing that stands at a name (a file, a link) is ever
/// opened. `path` gets its full path. False with the system's text in
/// `error` when no such file could be made.
bool CreateUniqueFile(const std::string& folder, const std::string& prefix,
                      const std::string& suffix, std::string& path, std::string& error);
/// The user's folder for temporary files when TEMP does not name one: on
/// POSIX TMPDIR, then /tmp; on Windows the system's temporary path.
std::string UserTempFolder(Environment& env);
/// Gives the owner read and write permission.
bool MakeWritable(const std::string& path);
/// Renames `from` to `to`, replacing `to` atomically when it exists.
bool ReplaceFile(const std::string& from, const std::string& to);
/// True when a regular file (not a link, device or folder) stands at
/// `path` and was last written at least `seconds` ago.
bool RegularFileUntouchedFor(const std::string& path, int64_t seconds);
/// True when a regular file (not a link) stands at `path` that is this
/// user's and that no other user may read or write (POSIX: owned by the
/// effective user, no group or other permission bits). On Windows, where
/// files take their folder's access, any regular file that is no link.
bool IsPrivateFile(const std::string& path);

}  // namespace kel
