#pragma once

#include <string>
#include <vector>

#include "platform/clock.h"
#include "runtime/runtime.h"

namespace kel {

/// The update history in the log folder: one CSV row per unit that a run
/// updated, found up to date, sent update files, refused or failed.
inline constexpr char kHistoryFileName[] = "UpdateHistory.csv";

/// The header row, which also fixes the order of a row's fields.
inline constexpr char kHistoryHeader[] =
    "time,computer,user,port,address,unit_type,card,serial,software_before,software_after,"
    "boot_loader_before,boot_loader_after,outcome,message,seconds\r\n";

/// One CSV row as spreadsheets read it: fields joined by commas, a field
/// holding a comma, quote or line break put in quotes with its quotes
/// doubled, and the row ended by CR LF. A field that a spreadsheet would
/// take for a formula (starting with =, +, -, @, a tab or CR) gets a
/// leading ' so that it stays text.
std::string CsvRow(const std::vector<std::string>& fields);

/// `time` as ISO 8601 local time with its offset from UTC:
/// 2026-12-08T14:03:27+01:00.
std::string IsoLocalTime(const LocalTime& time);

/// Appends rows to the history file. Each row is one write under an
/// exclusive lock of the file, so rows of runs at other stations never
/// interleave with it; the header is written by whichever run finds the
/// file empty. The file is only ever appended to, and only when it is a
/// regular file. A history that cannot be written is said once on the
/// console and the run goes on. With an empty path nothing is written.
class HistoryFile {
 public:
  HistoryFile(Runtime& rt, std::string path) : rt_(rt), path_(std::move(path)) {}

  void Append(const std::vector<std::string>& fields);
  const std::string& path() const { return path_; }

 private:
  Runtime& rt_;
  std::string path_;
  bool warned_ = false;
};

}  // namespace kel
