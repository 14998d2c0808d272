#include "unit/boot_tool.h"

#include <algorithm>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/signals.h"
#include "runtime/output.h"
#include "runtime/parameter_file.h"
#include "runtime/text_format.h"

namespace kel {

namespace {

constexpr char kFallbackHome[] = "F:\\EPROM\\Ponderix\\Current";
constexpr char kToolName[] = "KelBoot.exe";
constexpr size_t kMaxProgramPath = 255;
constexpr size_t kMaxArguments = 19;
constexpr int kStoppedExitCode = 1;

// A folder written with backslashes only (the fallback folder, a Windows
// path from a parameter file) goes on with backslashes, so that no path
// mixes the two.
std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
  const bool backslashes =
      folder.find('\\') != std::string::npos && folder.find('/') == std::string::npos;
  return folder + (backslashes ? '\\' : PathSeparator()) + name;
}

}  // namespace

std::string FindBootTool(Runtime& rt) {
  const std::string& parameterFile = rt.options.parameterFile;
  const std::string configured = GetParam(rt, parameterFile, kParamBootExe);
  if (!configured.empty()) return configured;

  std::string home = rt.env.Get("PONDERIXPATH");
  if (home.empty()) home = GetParam(rt, parameterFile, kParamHomeDir);
  if (home.empty()) home = kFallbackHome;
  const std::string folder = Join(home, "bin");
  const std::string tool = Join(folder, kToolName);
  if (!FileExists(tool)) rt.FatalError("Cannot find KelBoot in " + folder);
  return tool;
}

std::string BootToolCommandLine(Runtime& rt, const std::string& toolPath,
                                const std::string& arguments) {
  const Options& options = rt.options;
  std::string line = "\"" + toolPath + "\" " + arguments;
  if (options.detailedDebug) {
    line += " -dd";
  } else if (options.debug) {
    line += " -d";
  }
  line += " -y";
  if (options.silent) line += " -s";
  return line;
}

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (parts.size() < kMaxArguments + 1) {
    while (at < commandLine.size() && commandLine[at] == ' ') ++at;
    if (at >= commandLine.size()) break;
    std::string part;
    if (commandLine[at] == '"') {
      const size_t close = commandLine.find('"', at + 1);
      const size_t end = close == std::string::npos ? commandLine.size() : close;
      part = commandLine.substr(at + 1, end - at - 1);
      at = close == std::string::npos ? end : close + 1;
    } else {
      const size_t end = std::min(commandLine.find(' ', at), commandLine.size());
      part = commandLine.substr(at, end - at);
      at = end;
    }
    parts.push_back(part);
  }
  if (!parts.empty() && parts[0].size() > kMaxProgramPath) parts[0].resize(kMaxProgramPath);
  return parts;
}

void RunBootTool(Runtime& rt, const std::string& toolPath, const std::string& arguments,
                 const std::function<void()>& beforeEnd) {
  Output& out = rt.out;
  const std::string commandLine = BootToolCommandLine(rt, toolPath, arguments);
  out.Print(Sink::kDebug, "-- execute ", commandLine, "\r\n");
  out.Print(Sink::kConsole, "\r\n");

  std::vector<std::string> parts = SplitCommandLine(commandLine);
  const std::string program = parts.empty() ? std::string() : parts.front();
  const std::vector<std::string> args =
      parts.empty() ? std::vector<std::string>{}
                    : std::vector<std::string>(parts.begin() + 1, parts.end());
  const ProcessResult result = program.empty() ? ProcessResult{} : RunProcess(program, args);
  const bool succeeded = result.end == ProcessEnd::kExited && result.exitCode == 0;
  if (!succeeded && beforeEnd) beforeEnd();
  // A stop while the tool ran has ended the tool too; this run ends as any
  // stopped run does (the exit path's stop handler says so and lets go).
  // The stop is marked as acted on first, so the exit path's own waits (a
  // unit put back at its speed) are not taken for a second stop.
  if (result.end == ProcessEnd::kStopped) {
    ExitIfStopRequested();
    rt.exit.Exit(kStoppedExitCode);
  }
  if (result.end == ProcessEnd::kNotStarted) {
    rt.FatalError("FAILURE - cannot run KelBoot: " + commandLine);
  }
  const int code = result.exitCode;
  if (code != 0) {
    const std::string failed = "KelBoot returned an error: " + std::to_string(code);
    out.Print(Sink::kInfo, failed, "\r\n");
    // The line's script reads the reason beside the tool's exit code.
    rt.StoreMessage(failed);
    rt.PressEnter();
    // The exit path's stop handler closes the port and the log.
    rt.exit.Exit(code);
  }
}

std::string BootToolTempFolder(Runtime& rt) {
  std::string folder = rt.env.Get("TEMP");
  if (folder.empty()) return UserTempFolder(rt.env);
  if (folder.back() != '\\' && folder.back() != '/' && folder.back() != ':') {
    folder += PathSeparator();
  }
  return folder;
}

std::string CreateBootToolExchangeFile(Runtime& rt) {
  // A name made of the tick count could be guessed, and a file or link
  // planted under it beforehand in a shared folder; a new file under a
  // random name, open to this user only, can be neither read nor replaced.
  const std::string folder = BootToolTempFolder(rt);
  std::string path;
  std::string error;
  if (!CreateUniqueFile(folder, "KelUdpater", ".tmp", path, error)) {
    rt.FatalError("Cannot create a file for KelBoot in " + folder + ": " + error);
  }
  return path;
}

void RemoveBootToolExchangeFile(const std::string& path) {
  if (DeleteFileAt(path)) return;
  MakeWritable(path);
  DeleteFileAt(path);
}

std::string ProgrammerRequestArgument(const UnitInfo& unit, const std::string& file) {
  return "\"-g" + file + ";mcu=" + std::to_string(unit.mcuType) +
         ",bootversion=" + std::to_string(unit.bootLoaderVersion) +
         ",bootflags=" + Hex(unit.bootFlags, 2) + ",unitflags=" + Hex(unit.unitFlags, 2) +
         ",cardnumber=" + Hex(unit.cardNumber, 4) +
         ",buffersize=" + std::to_string(unit.bufferSize) + "\"";
}

}  // namespace kel
