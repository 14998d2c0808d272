#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kel {

/// One entry of a folder listing.
struct FolderEntry {
  std::string name;
  bool isFolder = false;
  bool isHidden = false;  ///< Windows hidden attribute; dot files on POSIX
  bool isSystem = false;  ///< Windows system attribute; never on POSIX
};

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
/// gives null with the system's text in `error`.
std::FILE* CreateNewFileForWriting(const std::string& path, bool& nameTaken, std::string& error);
bool DeleteFileAt(const std::string& path);
/// Gives the owner read and write permission.
bool MakeWritable(const std::string& path);
/// Renames `from` to `to`, replacing `to` atomically when it exists.
bool ReplaceFile(const std::string& from, const std::string& to);

}  // namespace kel
