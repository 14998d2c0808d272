#include "runtime/log_file.h"

#include "platform/files.h"
#include "platform/record_folder.h"
#include "platform/system_error.h"
#include "runtime/text_format.h"
#include "runtime/version.h"

namespace kel {

namespace {

constexpr char kLogFileLead[] = "   LogFile         : ";
// Longer log paths continue on a second line, aligned under the first.
constexpr size_t kLogPathLineWidth = 58;
constexpr char kDeletingText[] = "Deleting old log file: ";
constexpr char kCannotOpenDirectory[] = "Cannot open directory: ";
constexpr char kCannotCreateFolder[] = "Cannot create the log folder ";
constexpr char kLogPattern[] = "20*.log";
// Names tried for runs started in one second before giving up.
constexpr int kMaxLogsPerSecond = 999;

bool IsSeparator(char c) { return c == '/' || c == PathSeparator(); }

std::string Join(const std::string& folder, const std::string& name) {
  return folder + PathSeparator() + name;
}

// Deletes a file, retrying once after making it writable; a file that still
// cannot go only records the reason.
void DeleteWithRetry(Runtime& rt, const std::string& path) {
  if (DeleteFileAt(path)) return;
  MakeWritable(path);
  if (!DeleteFileAt(path)) rt.out.lastErrorText = LastSystemErrorText();
}

}  // namespace

std::string LogFolderFor(const std::string& programPath) {
  return FolderBesideProgram(programPath, kLogFolderName);
}

std::string RecordFolderFor(Environment& env, const std::string& programPath,
                            const std::string& name) {
  const std::string logFolder =
      RecordFolder(FolderBesideProgram(programPath, kLogFolderName), kProgramName, env);
  return logFolder.substr(0, logFolder.size() - (sizeof kLogFolderName - 1)) + name;
}

std::string FolderBesideProgram(const std::string& programPath, const std::string& name) {
  std::string path = programPath;
  if (!IsAbsolutePath(path)) path = Join(CurrentDirectory(), path);
  size_t end = path.size();
  while (end > 0 && !IsSeparator(path[end - 1])) --end;
  // `end` now stands just after the last separator (0 when there is none).
  std::string folder = path.substr(0, end);
  if (folder.empty() || !IsSeparator(folder.back())) folder += PathSeparator();
  return folder + name;
}

std::string LogFileName(const std::string& folder, const LocalTime& now, int copy) {
  const std::string suffix = copy > 1 ? "_" + std::to_string(copy) : std::string();
  return Join(folder, "20" + ZeroPadded(now.year % 100, 2) + "-" + ZeroPadded(now.month, 2) + "-" +
                          ZeroPadded(now.day, 2) + " " + ZeroPadded(now.hour, 2) + "-" +
                          ZeroPadded(now.minute, 2) + "-" + ZeroPadded(now.second, 2) + suffix +
                          ".log");
}

bool IsOldLog(const std::string& name, const LocalTime& now) {
  if (now.day < 22) return false;
  const std::string thisYear = "20" + ZeroPadded(now.year % 100, 2);
  if (name.compare(0, thisYear.size(), thisYear) != 0) {
    // Logs of another year are kept through February, so a run early in
    // the year still keeps the last months of the one before.
    return now.month >= 3;
  }
  const std::string thisMonth = thisYear + "-" + ZeroPadded(now.month, 2);
  if (name.compare(0, thisMonth.size(), thisMonth) == 0) return false;
  // The month stands at characters 6 and 7 of "YYYY-MM-...".
  int month = name.size() > 5 ? LeadingDecimal(name.substr(5, 2)) : 0;
  // The difference is taken as an unsigned byte, so a later month of this
  // year comes out large and is deleted too.
  return static_cast<uint8_t>(now.month - month) > 2;
}

void CleanUpOldLogs(Runtime& rt, const std::string& folder, const LocalTime& now) {
  const std::string lockPath = Join(folder, kCleanupLockName);
  int lock = CreateExclusiveFile(lockPath);
  if (lock < 0) {
    // Another run is cleaning the folder (or left its lock behind).
    rt.out.lastErrorText = LastSystemErrorText();
    return;
  }
  auto releaseLock = [&] {
    CloseExclusiveFile(lock);
    DeleteWithRetry(rt, lockPath);
  };

  std::vector<FolderEntry> entries;
  if (!ListFolder(folder, kLogPattern, entries)) {
    // Release the lock first: left behind, it would stop every later
    // clean-up of this folder.
    releaseLock();
    rt.FatalError(kCannotOpenDirectory + folder);
  }
  for (const FolderEntry& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    if (entry.isFolder || entry.isHidden || entry.isSystem) continue;
    if (!IsOldLog(entry.name, now)) continue;
    const std::string path = Join(folder, entry.name);
    rt.out.Print(Sink::kConsole, kDeletingText, path, "\r\n");
    DeleteWithRetry(rt, path);
  }
  releaseLock();
}

void OpenRunLog(Runtime& rt, const std::string& folder, const std::vector<std::string>& arguments) {
  // A folder that cannot be made is only noted here; when the log then
  // cannot be opened, the folder's failure is the cause reported.
  std::string folderError;
  if (!FolderExists(folder) && !CreateFolders(folder)) {
    folderError = LastSystemErrorText();
    rt.out.lastErrorText = folderError;
  }

  // One reading of the date serves both the clean-up and the name.
  const LocalTime now = rt.clock.Now();
  CleanUpOldLogs(rt, folder, now);

  // Several runs started in the same second (stations of one production
  // PC sharing the folder) each get a log of their own: a name in use is
  // never opened, the next one is tried.
  std::string path;
  std::string error;
  bool opened = false;
  for (int copy = 1; copy <= kMaxLogsPerSecond && !opened; ++copy) {
    path = LogFileName(folder, now, copy);
    bool nameTaken = false;
    opened = rt.out.OpenLogFile(path, nameTaken, error);
    if (!nameTaken) break;
  }
  rt.out.Print(Sink::kConsole, kLogFileLead, path.substr(0, kLogPathLineWidth), "\r\n");
  if (path.size() > kLogPathLineWidth) {
    rt.out.Print(Sink::kConsole, std::string(sizeof kLogFileLead - 1, ' '),
                 path.substr(kLogPathLineWidth), "\r\n");
  }
  if (!opened) {
    const std::string failure =
        folderError.empty() ? error : kCannotCreateFolder + folder + ": " + folderError;
    // A production script reads this end's reason from the parameter file
    // too (read already at this point, so it can be rewritten).
    rt.StoreMessage(failure);
    rt.FatalSystemError(failure);
  }

  std::string header;
  for (const std::string& argument : arguments) header += argument + " ";
  rt.out.WriteLogRaw(header);
  rt.out.WriteLog("\r\n");
  rt.out.WriteLog("COMPUTERNAME=" + rt.env.ComputerName() + "\r\n");
  rt.out.WriteLog("USERNAME=" + rt.env.UserName() + "\r\n");
}

}  // namespace kel
