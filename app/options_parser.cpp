#include "app/options_parser.h"

#include <algorithm>
#include <cctype>

#include "platform/files.h"
#include "runtime/text_format.h"

namespace kel {

namespace {

// The programming speed -b implies when -r has not chosen one: the slowest
// speed the flash programmer is driven at.
constexpr int32_t kMinimumDerivedProgrammingBaud = 115200;

bool IsPortNumberText(const std::string& argument) {
  return std::all_of(argument.begin(), argument.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool StartsWithCom(const std::string& argument) {
  return argument.size() > 3 && EqualsIgnoreCase(std::string_view(argument).substr(0, 3), "COM");
}

// Applies one value letter; false, with the reason in `error` when it is
// the value that is wrong, when the value is not acceptable. A speed is a
// positive number; a value is read as its leading number, so "-b38400" and
// "-b 38400" are the same.
bool ApplyValue(char letter, const std::string& value, Options& options, std::string& error) {
  auto read = [&](int32_t low, int32_t high, const char* refusal, int32_t& number) {
    if (LeadingDecimalIn(value, low, high, number)) return true;
    error = refusal + std::string("-") + letter + " " + value;
    return false;
  };
  int32_t number = 0;
  switch (letter) {
    case 'b':
      if (!read(1, INT32_MAX, kNotABaudRate, number)) return false;
      options.initialBaudRate = number;
      options.initialBaudGiven = true;
      if (options.programmingBaudRate == 0) {
        options.programmingBaudRate = std::max(number, kMinimumDerivedProgrammingBaud);
      }
      return true;
    case 'p':
      if (value == "0") {
        options.evenParity = false;
        return true;
      }
      if (value == "1") {
        options.evenParity = true;
        return true;
      }
      return false;
    case 'r':
      if (!read(1, INT32_MAX, kNotABaudRate, number)) return false;
      options.programmingBaudRate = number;
      return true;
    case 'u':
      if (!read(0, 255, kNotAUnitId, number)) return false;
      options.unitId = static_cast<uint8_t>(number);
      options.unitIdGiven = true;
      return true;
  }
  return false;
}

// A port argument: its number, 0 (a search) when no digits lead, as for
// "COMx"; false for a number that names no port (negative, or past the
// 16-bit port numbers).
bool ReadPortArgument(const std::string& text, int16_t& port) {
  int32_t number = 0;
  if (!LeadingDecimalIn(text, 0, kLastPortNumber, number) && LeadingDecimal(text) != 0) {
    return false;
  }
  port = static_cast<int16_t>(number);
  return true;
}

bool SetFlag(char letter, Options& options) {
  switch (letter) {
    case 'i':
      options.interrogate = true;
      return true;
    case 'x':
      options.extractLogs = true;
      return true;
    case 'y':
      options.yesToPrompts = true;
      return true;
    case 'v':
      options.verify = true;
      return true;
    case 's':
      options.silent = true;
      return true;
    case 'w':
      options.writeAlways = true;
      return true;
    case 'l':
      options.updateBootLoader = true;
      return true;
    case 'f':
      options.firstUnitOnly = true;
      return true;
    case 'o':
      options.overlapped = true;
      return true;
  }
  return false;
}

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// The long options ("--name"), each a flag of the options. Names compare
// without regard to case, as the letters do.
struct LongOption {
  const char* name;
  bool Options::*flag;
};
constexpr LongOption kLongOptions[] = {
    {"list-ports", &Options::listPorts},
    {"help", &Options::help},
    {"version", &Options::version},
    {"plan", &Options::plan},
};

bool SetLongOption(std::string_view name, Options& options) {
  for (const LongOption& option : kLongOptions) {
    if (EqualsIgnoreCase(name, option.name)) {
      options.*option.flag = true;
      return true;
    }
  }
  return false;
}

// Windows names a port's device \\.\COMn; it means COMn.
std::string WithoutDevicePrefix(const std::string& argument) {
  return argument.rfind("\\\\.\\", 0) == 0 ? argument.substr(4) : argument;
}

// On POSIX an argument that names a character device is a port, never a
// parameter file. So is a path in /dev where nothing stands: a device that
// is not plugged in is a port that is missing, not a file to create among
// the devices (/dev/shm, which holds files, aside).
bool NamesPortDevice(const std::string& argument, bool slashStartsOptions) {
  if (slashStartsOptions || argument.empty()) return false;
  if (IsCharacterDevice(argument)) return true;
  return argument.rfind("/dev/", 0) == 0 && argument.rfind("/dev/shm/", 0) != 0 &&
         KindAtPath(argument) == PathKind::kMissing;
}

}  // namespace

bool SlashStartsOptions() { return PathSeparator() == '\\'; }

bool ParseCommandLine(const std::vector<std::string>& arguments, bool slashStartsOptions,
                      Options& options, std::string* reason) {
  std::string error;
  auto fail = [&] {
    if (reason != nullptr) *reason = error;
    return false;
  };
  // Every run starts from the default line settings, whatever came before.
  options.initialBaudRate = 19200;
  options.evenParity = false;

  for (size_t index = 0; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    char first = argument.empty() ? '\0' : argument[0];
    bool isCluster = first == '-' || first == '+' || (first == '/' && slashStartsOptions);

    if (!isCluster) {
      const std::string port = WithoutDevicePrefix(argument);
      const bool com = StartsWithCom(port);
      if (com || IsPortNumberText(argument)) {
        if (!ReadPortArgument(com ? port.substr(3) : argument, options.portNumber)) {
          error = kNotAPortNumber + argument;
          return fail();
        }
        options.portDevice.clear();
      } else if (NamesPortDevice(argument, slashStartsOptions)) {
        options.portNumber = 0;
        options.portDevice = argument;
      } else {
        options.parameterFile = argument;
      }
      continue;
    }
    if (argument.size() > 2 && argument.compare(0, 2, "--") == 0) {
      if (!SetLongOption(std::string_view(argument).substr(2), options)) return false;
      continue;
    }

    for (size_t pos = 1; pos < argument.size(); ++pos) {
      char letter = Lower(argument[pos]);
      if (letter == 'd') {
        options.debug = true;
        if (pos + 1 < argument.size() && Lower(argument[pos + 1]) == 'd') {
          options.detailedDebug = true;
          ++pos;
        }
        continue;
      }
      if (letter == 'b' || letter == 'p' || letter == 'r' || letter == 'u') {
        // A value letter ends the cluster: whatever follows it is its value.
        std::string value;
        if (pos + 1 < argument.size()) {
          value = argument.substr(pos + 1);
        } else if (index + 1 < arguments.size()) {
          value = arguments[++index];
        } else {
          return fail();
        }
        if (!ApplyValue(letter, value, options, error)) return fail();
        break;
      }
      if (!SetFlag(letter, options)) return fail();
    }
  }
  return true;
}

}  // namespace kel
