#include "runtime/history_file.h"

#include <cstdlib>

#include "platform/files.h"
#include "runtime/text_format.h"

namespace kel {

std::string CsvRow(const std::vector<std::string>& fields) {
  std::string row;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) row += ',';
    // Texts come from units and messages; one that a spreadsheet would take
    // for a formula (=, +, -, @ first) is kept as text by a leading '.
    const bool formula = !fields[i].empty() && std::string("=+-@\t\r").find(fields[i][0]) !=
                                                   std::string::npos;
    const std::string field = formula ? "'" + fields[i] : fields[i];
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
      row += field;
      continue;
    }
    row += '"';
    for (char c : field) {
      if (c == '"') row += '"';
      row += c;
    }
    row += '"';
  }
  return row + "\r\n";
}

std::string IsoLocalTime(const LocalTime& time) {
  const int offset = std::abs(time.utcOffsetMinutes);
  return std::to_string(time.year) + "-" + ZeroPadded(time.month, 2) + "-" +
         ZeroPadded(time.day, 2) + "T" + ZeroPadded(time.hour, 2) + ":" +
         ZeroPadded(time.minute, 2) + ":" + ZeroPadded(time.second, 2) +
         (time.utcOffsetMinutes < 0 ? "-" : "+") + ZeroPadded(offset / 60, 2) + ":" +
         ZeroPadded(offset % 60, 2);
}

void HistoryFile::Append(const std::vector<std::string>& fields) {
  if (path_.empty()) return;  // a run that keeps no history
  std::string error;
  const AppendOutcome outcome = AppendUnderLock(path_, kHistoryHeader, CsvRow(fields), error);
  if (outcome == AppendOutcome::kAppended || warned_) return;
  warned_ = true;
  if (outcome == AppendOutcome::kNotRegular) error = "not a regular file";
  rt_.out.Print(Sink::kInfo, "Cannot write the update history ", path_, ": ", error, "\r\n");
}

}  // namespace kel
