#include "app/usage.h"

#include "runtime/version.h"

namespace kel {

namespace {

// The option list, one console line per entry; an empty entry is a blank line.
constexpr const char* kUsageLines[] = {
    "",
    "-i           Interrogate unit and show information, do not update",
    "-x           Extract debug logs",
    "-y           Yes to prompts (continues without waiting for key)",
    "-v           Verify on",
    "-s           Silence extra information",
    "-w           Write always, even if its the correct version",
    "-l           Update boot loader if needed",
    "-f           only update the first unit directly connected to the serial",
    "             port (no remote updates). Does NOT use update files",
    "-d           Debug on",
    "-dd          Detailed Debug on (shows com data)",
    "-b           Set the initial baud rate",
    "-p<n>        Start with parity setting where n = 0 (none), 1 (even)",
    "-r           Set the baud rate for programming to one of the following:",
    "             115200, 230400, 460800, 921600",
    "-u<ID>       Unit ID",
    "-o           Overlapped writes to flash, uses sliding window programming",
    "             protocol if possible",
    "--plan       Show what an update would do to each unit; write nothing",
    "--list-ports  List the serial ports a search tries, then exit",
    "--help       Show this text, then exit",
    "--version    Show the program's version, then exit",
    "",
    "[filename]   Parameter file",
    "",
    "port         1, 2, 3, 4...",
    "             or the port's serial device, such as /dev/ttyUSB0 (Linux)",
    "",
    "default setting for auto-search are 19200 baud, no parity.",
};

}  // namespace

void PrintUsage(Output& out) {
  out.Print(Sink::kConsole, "Usage: ", kProgramName, " [options] [Filename] [[COM]<port>]\r\n");
  for (const char* line : kUsageLines) out.Print(Sink::kConsole, line, "\r\n");
}

}  // namespace kel
