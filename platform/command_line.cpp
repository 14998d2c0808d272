#include "platform/command_line.h"

namespace kel {

std::string QuoteWindowsArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    return argument;
  }
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count as escapes only in front of a quote: there they
    // must be doubled, and the quote itself escaped.
    if (c == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted += c;
  }
  // Trailing backslashes stand in front of the closing quote.
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

std::string BuildWindowsCommandLine(const std::string& program,
                                    const std::vector<std::string>& args) {
  std::string line = QuoteWindowsArgument(program);
  for (const std::string& arg : args) line += ' ' + QuoteWindowsArgument(arg);
  return line;
}

}  // namespace kel
