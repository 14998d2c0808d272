#pragma once

#include <cstdint>
#include <string>

#include "runtime/runtime.h"

namespace kel {

/// Keys of the parameter file that production scripts drive the program with.
inline constexpr char kParamManufacture[] = "KelManufacture";
inline constexpr char kParamProgram[] = "Program";
inline constexpr char kParamBootExe[] = "KelBootEXE";
inline constexpr char kParamHomeDir[] = "PonderixHomeDir";
inline constexpr char kParamMessage[] = "Message";

/// The value of `key` in the parameter file `fileName`: the text after the
/// first "=" of the first line whose key (the text before that "=", or the
/// whole line) equals `key` exactly. Empty when the file name is empty, the
/// file does not exist, or no line has the key. A file that exists but
/// cannot be read ends the run ("Fatal error: " + system text, exit 1).
std::string GetParam(Runtime& rt, const std::string& fileName, const std::string& key);

/// True when the value is "1" or "TRUE" in any case; false otherwise.
bool GetParamBool(Runtime& rt, const std::string& fileName, const std::string& key);

/// The value's leading decimal number; 0 when empty or not a number.
int32_t GetParamInt(Runtime& rt, const std::string& fileName, const std::string& key);

/// Sets `key` to `value`: every line with the key is replaced, or the entry
/// is appended; every line of the result ends with "\r\n". The new content
/// is written to fileName + ".000" and then moved over the file in one step,
/// so the file is whole at every instant. Ends the run when the companion
/// cannot be written ("Fatal error", exit 1) or moved into place
/// ("INI File is locked: " + name, exit 1).
void WriteParam(Runtime& rt, const std::string& fileName, const std::string& key,
                const std::string& value);

/// WriteParam with the number in decimal.
void WriteParamInt(Runtime& rt, const std::string& fileName, const std::string& key, int32_t value);

}  // namespace kel
