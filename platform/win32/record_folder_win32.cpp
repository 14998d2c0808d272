#include <windows.h>

#include <string>

#include "platform/record_folder.h"

namespace kel {
namespace {

// Whether this user may make files in `folder`: a probe file made and
// removed at once answers for the folder's access list, read-only media
// and policies alike.
bool CanWriteIn(const std::string& folder) {
  const std::string probe =
      folder + "\\~KelUpdater-probe-" + std::to_string(GetCurrentProcessId()) + ".tmp";
  HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

std::string ParentOf(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string(".") : path.substr(0, cut);
}

}  // namespace

// Beside the program where the user can keep the folder there (it stands
// there writable, or the program's folder is writable to make it), else in
// the user's local application data, made when missing.
std::string RecordFolder(const std::string& besidePath, const std::string& programName,
                         Environment& env) {
  const DWORD attributes = GetFileAttributesA(besidePath.c_str());
  const bool isFolder =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const bool writable = CanWriteIn(isFolder ? besidePath : ParentOf(besidePath));
  const std::string chosen = ChooseWindowsRecordFolder(besidePath, writable, programName, env);
  if (chosen != besidePath) CreateDirectoryA(ParentOf(chosen).c_str(), nullptr);
  return chosen;
}

}  // namespace kel
