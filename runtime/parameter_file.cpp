#include "runtime/parameter_file.h"

#include <cstdio>
#include <vector>

#include "platform/files.h"
#include "platform/system_error.h"
#include "runtime/text_format.h"

namespace kel {

namespace {

// The companion file a rewrite is built in before it replaces the original.
constexpr char kCompanionSuffix[] = ".000";
constexpr char kLockedMessage[] = "INI File is locked: ";

// Reads the whole file; false (with the system's text) when it cannot be read.
bool ReadWholeFile(const std::string& fileName, std::string& content, std::string& error) {
  std::FILE* file = std::fopen(fileName.c_str(), "rb");
  if (file == nullptr) {
    error = LastCErrorText();
    return false;
  }
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, got);
  bool failed = std::ferror(file) != 0;
  if (failed) error = LastCErrorText();
  std::fclose(file);
  return !failed;
}

// Splits the file into lines without their endings. A line ends at "\n"
// with an optional "\r" before it; the last line may lack an ending.
std::vector<std::string> SplitLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    size_t next = end == std::string::npos ? content.size() : end + 1;
    size_t length = (end == std::string::npos ? content.size() : end) - start;
    if (length > 0 && content[start + length - 1] == '\r') --length;
    lines.push_back(content.substr(start, length));
    start = next;
  }
  return lines;
}

std::string KeyOf(const std::string& line) { return line.substr(0, line.find('=')); }

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of(std::string("/") + PathSeparator());
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::string GetParam(Runtime& rt, const std::string& fileName, const std::string& key) {
  if (fileName.empty() || !FileExists(fileName)) return std::string();
  std::string content;
  std::string error;
  if (!ReadWholeFile(fileName, content, error)) rt.FatalSystemError(error);
  for (const std::string& line : SplitLines(content)) {
    if (KeyOf(line) != key) continue;
    // The value is everything after the first "=", further "=" included.
    size_t equals = line.find('=');
    return equals == std::string::npos ? std::string() : line.substr(equals + 1);
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
    rt.out.lastErrorText = LastCErrorText();
  }

  std::vector<std::string> lines;
  if (FileExists(fileName)) {
    std::string content;
    std::string error;
    if (!ReadWholeFile(fileName, content, error)) rt.FatalSystemError(error);
    lines = SplitLines(content);
  }

  const std::string entry = key + "=" + value;
  std::string rewritten;
  bool found = false;
  for (const std::string& line : lines) {
    if (KeyOf(line) == key) {
      rewritten += entry;
      found = true;
    } else {
      rewritten += line;
    }
    rewritten += "\r\n";
  }
  if (!found) rewritten += entry + "\r\n";

  // A new file is built the same way as a rewrite, so a run that dies while
  // writing never leaves a half-written parameter file behind.
  const std::string companion = fileName + kCompanionSuffix;
  std::FILE* file = std::fopen(companion.c_str(), "wb");
  if (file == nullptr) rt.FatalSystemError(LastCErrorText());
  size_t written = std::fwrite(rewritten.data(), 1, rewritten.size(), file);
  bool failed = written != rewritten.size() || std::fflush(file) != 0;
  std::string error = failed ? LastCErrorText() : std::string();
  if (std::fclose(file) != 0 && !failed) {
    failed = true;
    error = LastCErrorText();
  }
  if (failed) {
    // A short companion (a full disk) must never replace the good file.
    DeleteFileAt(companion);
    rt.FatalSystemError(error);
  }

  if (!ReplaceFile(companion, fileName)) {
    MakeWritable(fileName);
    if (!ReplaceFile(companion, fileName)) {
      rt.out.lastErrorText = LastCErrorText();
      rt.out.Print(Sink::kConsole, "\r\n", kLockedMessage, fileName);
      rt.exit.Exit(1);
    }
  }
}

void WriteParamInt(Runtime& rt, const std::string& fileName, const std::string& key,
                   int32_t value) {
  WriteParam(rt, fileName, key, std::to_string(value));
}

}  // namespace kel
