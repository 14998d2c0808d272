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
/// whole line) equals `key` exactly. Lines end at "\r\n", "\n" or "\r",
/// and the CRs of a twice-converted "\r\r\n" belong to the line end. Blanks (spaces, tabs) around
/// the key and the value, and a UTF-8 byte-order mark at the file's start, are not part of either.
/// Empty when the file name is empty, nothing stands at the path, or no line has the key. Anything
/// else that cannot be read as a regular file of at most 1 MiB (a folder, a device, a FIFO, a link
/// to nothing, an unreadable or huge file) ends the run with "Fatal error: " and a message that
/// names the file, exit code 1; nothing is opened that could block, and nothing is written.
std::string GetParam(Runtime& rt, const std::string& fileName, const std::string& key);

/// True when the value is "1" or "TRUE" in any case; false otherwise.
bool GetParamBool(Runtime& rt, const std::string& fileName, const std::string& key);

/// The value's leading decimal number; 0 when empty or not a number.
int32_t GetParamInt(Runtime& rt, const std::string& fileName, const std::string& key);

/// Sets `key` to `value`: every line with the key (blanks around it
/// allowed) is replaced, or the entry is appended; a byte-order mark at the
/// start stays; every line of the result ends as the file's first line
/// does ("\r\n", "\n", "\r" or a twice-converted "\r\r\n"; "\r\n" for a
/// file without line ends). The new content
/// is written to the file's name + ".000" (created new, never through a
/// link) and then moved over the file in one step, so the file is whole at
/// every instant. A link is written through to the file it names, and the
/// new file keeps the old one's owner, group and permissions. What cannot
/// be read ends the run as for GetParam; a companion that cannot be written
/// ends it with "Fatal error: " + its name and the system's text, exit 1;
/// one that cannot be moved into place within about 2 s (a scanner holding
/// the file for a moment is waited out) with "INI File is locked: " + name,
/// exit 1, after that text is stored under "Message" in the file where it
/// stands when the file can still be written there.
void WriteParam(Runtime& rt, const std::string& fileName, const std::string& key,
                const std::string& value);

/// WriteParam with the number in decimal.
void WriteParamInt(Runtime& rt, const std::string& fileName, const std::string& key, int32_t value);

}  // namespace kel
