#include "runtime/parameter_file.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/files.h"
#include "platform/retry.h"
#include "platform/system_error.h"
#include "runtime/text_format.h"

namespace kel {

namespace {

// The companion file a rewrite is built in before it replaces the original.
constexpr char kCompanionSuffix[] = ".000";
constexpr char kLockedMessage[] = "INI File is locked: ";
// A virus scanner or an indexer may hold the file just written for a
// moment; the move into place is tried again for this long before the
// file counts as locked.
constexpr uint32_t kReplaceRetryMs = 2000;
constexpr uint32_t kReplacePauseMs = 50;
// Far above any real job file; a larger one (or a device that never ends)
// is refused rather than read into memory.
constexpr size_t kMaxParameterFileBytes = 1 << 20;

const char* KindName(PathKind kind) {
  switch (kind) {
    case PathKind::kFolder:
      return "a folder";
    case PathKind::kDevice:
      return "a device";
    case PathKind::kFifo:
      return "a FIFO";
    case PathKind::kSocket:
      return "a socket";
    case PathKind::kBrokenLink:
      return "a link to nothing";
    case PathKind::kMissing:
    case PathKind::kRegular:
    case PathKind::kLink:
    case PathKind::kOther:
      break;
  }
  return "a special file";
}

// Reads the parameter file; false when it does not exist. Anything but a
// readable regular file of sane size ends the run naming the file, before
// anything is written.
bool ReadParameterFile(Runtime& rt, const std::string& fileName, std::string& content) {
  const FileRead read = ReadRegularFile(fileName, kMaxParameterFileBytes, content);
  switch (read.outcome) {
    case ReadOutcome::kRead:
      return true;
    case ReadOutcome::kMissing:
      return false;
    case ReadOutcome::kNotRegular:
      rt.FatalSystemError("Parameter file " + fileName + " is " + KindName(read.kind) +
                          ", not a regular file");
    case ReadOutcome::kTooLarge:
      rt.FatalSystemError("Parameter file " + fileName + " is larger than " +
                          std::to_string(kMaxParameterFileBytes) + " bytes");
    case ReadOutcome::kFailed:
      break;
  }
  rt.FatalSystemError("Parameter file " + fileName + ": " + read.systemText);
}

// Where the line end that starts at `at` stops. "\r\n" and "\n" end a
// line, and so do the CRs before an LF of a file whose line ends were
// converted twice ("\r\r\n"); a CR that no LF follows ends a line on its
// own (a file with CR line ends).
size_t LineEndStop(const std::string& content, size_t at) {
  if (content[at] == '\n') return at + 1;
  size_t end = at;
  while (end < content.size() && content[end] == '\r') ++end;
  return end < content.size() && content[end] == '\n' ? end + 1 : at + 1;
}

// Splits the file into lines without their endings; the last line may lack
// an ending.
std::vector<std::string> SplitLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    const size_t end = std::min(content.find_first_of("\r\n", start), content.size());
    lines.push_back(content.substr(start, end - start));
    start = end < content.size() ? LineEndStop(content, end) : end;
  }
  return lines;
}

// The line end the file uses (its first one), so that a rewrite keeps the
// file as its tools made it; "\r\n" for a file that has none.
std::string LineEndOf(const std::string& content) {
  const size_t at = content.find_first_of("\r\n");
  if (at == std::string::npos) return "\r\n";
  return content.substr(at, LineEndStop(content, at) - at);
}

// Editors on the production PCs may save the job with a UTF-8 byte-order
// mark; it belongs to no key.
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

bool StartsWithByteOrderMark(const std::string& content) {
  return content.rfind(kByteOrderMark, 0) == 0;
}

// Blanks (spaces, tabs) around keys and values are layout, not content:
// "KelManufacture = 1" names the key KelManufacture with the value 1.
std::string TrimBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The lines of the file's content, a leading byte-order mark left out.
std::vector<std::string> EntryLines(const std::string& content) {
  return SplitLines(StartsWithByteOrderMark(content) ? content.substr(3) : content);
}

std::string KeyOf(const std::string& line) { return TrimBlanks(line.substr(0, line.find('='))); }

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of(std::string("/") + PathSeparator());
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The file's content with `key` set to `value`: every line with the key
// replaced, or the entry appended, every line ended in the file's own
// style; a byte-order mark at the start stays.
std::string Rewritten(const std::string& content, const std::string& key,
                      const std::string& value) {
  const std::string entry = key + "=" + value;
  const std::string lineEnd = LineEndOf(content);
  // The mark stays where the editor put it.
  std::string rewritten = StartsWithByteOrderMark(content) ? kByteOrderMark : "";
  bool found = false;
  for (const std::string& line : EntryLines(content)) {
    if (KeyOf(line) == key) {
      rewritten += entry;
      found = true;
    } else {
      rewritten += line;
    }
    rewritten += lineEnd;
  }
  if (!found) rewritten += entry + lineEnd;
  return rewritten;
}

}  // namespace

std::string GetParam(Runtime& rt, const std::string& fileName, const std::string& key) {
  std::string content;
  if (fileName.empty() || !ReadParameterFile(rt, fileName, content)) return std::string();
  for (const std::string& line : EntryLines(content)) {
    if (KeyOf(line) != key) continue;
    // The value is everything after the first "=", further "=" included.
    size_t equals = line.find('=');
    return equals == std::string::npos ? std::string() : TrimBlanks(line.substr(equals + 1));
  }
  return std::string();
}

bool GetParamBool(Runtime& rt, const std::string& fileName, const std::string& key) {
  std::string value = GetParam(rt, fileName, key);
  return value == "1" || EqualsIgnoreCase(value, "TRUE");
}

int32_t GetParamInt(Runtime& rt, const std::string& fileName, const std::string& key) {
  return LeadingDecimal(GetParam(rt, fileName, key));
}

void WriteParam(Runtime& rt, const std::string& fileName, const std::string& key,
                const std::string& value) {
  std::string folder = FolderOf(fileName);
  if (!folder.empty() && !FolderExists(folder) && !CreateFolders(folder)) {
    rt.out.lastErrorText = LastSystemErrorText();
  }

  std::string content;
  const bool exists = ReadParameterFile(rt, fileName, content);
  const std::string rewritten = Rewritten(content, key, value);

  // A job file that is a link is rewritten where it really lies, so the
  // link stays and the file it names gets the message; the new content
  // takes the old file's owner, group and permissions. (A hard-linked file
  // is replaced by a new one, not changed in place.) A new file is built
  // the same way as a rewrite, so a run that dies while writing never
  // leaves a half-written parameter file behind.
  const std::string target = exists ? ResolveLinks(fileName) : fileName;
  const std::string companion = target + kCompanionSuffix;
  std::string error;
  if (!CreateFreshFile(companion, rewritten, exists ? target : std::string(), error)) {
    // A folder the user may not write in (a share with a job file the
    // station may write) leaves the file itself as the one way left:
    // written where it stands, in its own line-end style.
    std::string inPlaceError;
    if (exists && OverwriteRegularFile(target, rewritten, inPlaceError)) return;
    rt.FatalSystemError(companion + ": " + error);
  }

  bool madeWritable = false;
  const bool replaced = RetryFor(rt.clock, kReplaceRetryMs, kReplacePauseMs, [&] {
    if (ReplaceFile(companion, target)) return true;
    if (!madeWritable) {
      madeWritable = true;
      MakeWritable(target);
      return ReplaceFile(companion, target);
    }
    return false;
  });
  if (!replaced) {
    rt.out.lastErrorText = LastSystemErrorText();
    const std::string locked = kLockedMessage + fileName;
    rt.out.Print(Sink::kConsole, "\r\n", locked);
    // A file that may be written but not replaced (another user's, in a
    // shared folder) still tells the script why the run ended: written
    // where it stands, as the one way left.
    std::string error;
    if (exists) OverwriteRegularFile(target, Rewritten(content, kParamMessage, locked), error);
    rt.messageStored = true;
    rt.exit.Exit(1);
  }
}

void WriteParamInt(Runtime& rt, const std::string& fileName, const std::string& key,
                   int32_t value) {
  WriteParam(rt, fileName, key, std::to_string(value));
}

}  // namespace kel
