#include "update/update_history.h"

#include <cstdio>

#include "platform/signals.h"
#include "unit/card_table.h"
#include "unit/unit_summary.h"
#include "unit/version_text.h"
#include "update/update_rules.h"

namespace kel {

namespace {

const char* OutcomeText(HistoryOutcome outcome) {
  switch (outcome) {
    case HistoryOutcome::kUpdated:
      return "updated";
    case HistoryOutcome::kUpToDate:
      return "up to date";
    case HistoryOutcome::kUpdateFilesSent:
      return "update files sent";
    case HistoryOutcome::kRefused:
      return "refused";
    case HistoryOutcome::kFailed:
      return "failed";
  }
  return "";
}

// Suffix letter 1 is "A"; 0 means none and shows as "-", as in the report.
char SuffixLetter(uint8_t letter) {
  if (letter == 0) return '-';
  if (letter > 26) return '?';
  return static_cast<char>('A' + letter - 1);
}

// The card as the unit report shows it: c659r1-0.
std::string CardText(const UnitInfo& unit) {
  if (unit.mcuType == mcuH8S2145) return std::to_string(unit.cardNumber);
  std::string card = "c" + std::to_string(unit.cardNumber) + "r" + std::to_string(unit.circuitCode);
  if (unit.connectionMode == modeApplication || unit.identityNoted) {
    card += SuffixLetter(unit.cardSuffixLetter) + std::to_string(unit.cardSuffixNumber);
  }
  return card;
}

constexpr char kAtRestart[] = " (at restart)";
constexpr size_t kSoftwareAfterColumn = 9;
constexpr size_t kBootLoaderAfterColumn = 11;

std::string WithoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

void DropAtRestart(std::string& text) {
  const std::string atRestart = kAtRestart;
  if (text.size() >= atRestart.size() &&
      text.compare(text.size() - atRestart.size(), atRestart.size(), atRestart) == 0) {
    text.erase(text.size() - atRestart.size());
  }
}

}  // namespace

UpdateHistory::UpdateHistory(Runtime& rt, const std::string& path) : rt_(rt), file_(rt, path) {
  rt_.onFatalError = [this](const std::string& message) {
    if (state_ != State::kIdle) Write(HistoryOutcome::kFailed, message);
    UnitsRestarted(false);
  };
  rt_.summaryLines = [this](bool fatal) { return SummaryLines(fatal); };
}

UpdateHistory::~UpdateHistory() {
  rt_.onFatalError = nullptr;
  rt_.summaryLines = nullptr;
  // Rows still held are written on the way out too; a stop that comes
  // meanwhile waits for the (bounded) wait for the file's lock, since a
  // way out must not start inside a destructor.
  HoldStops(true);
  UnitsRestarted(false);
  HoldStops(false);
}

void UpdateHistory::UnitsRestarted(bool confirmed) {
  for (size_t held = 0; held < held_.size(); ++held) {
    std::vector<std::string>& row = held_[held];
    if (confirmed) {
      for (const size_t column : {kSoftwareAfterColumn, kBootLoaderAfterColumn}) {
        DropAtRestart(row[column]);
      }
      DropAtRestart(summary_[heldLines_[held]].after);
    }
    file_.Append(row);
  }
  held_.clear();
  heldLines_.clear();
}

std::vector<SummaryLine> UpdateHistory::SummaryLines(bool fatal) const {
  std::vector<SummaryLine> lines = summary_;
  if (state_ == State::kIdle || (state_ == State::kBegun && !fatal)) return lines;
  const bool failed = fatal;
  lines.push_back({address_, unitType_, softwareBefore_, failed ? "?" : softwareAfter_,
                   OutcomeText(failed ? HistoryOutcome::kFailed : waiting_)});
  return lines;
}

void UpdateHistory::Begin(const UnitInfo& unit) {
  if (state_ == State::kBegun && address_ == unit.unitAddress) {
    inHand_ = &unit;
    return;
  }
  Complete();
  state_ = State::kBegun;
  address_ = unit.unitAddress;
  time_ = IsoLocalTime(rt_.clock.Now());
  startMicros_ = rt_.clock.Micros();
  // A unit that never answered leaves its details empty rather than zeros.
  const bool known = UnitIsKnown(unit);
  unitType_ = known ? CardName(unit.cardNumber) : std::string();
  card_ = known ? CardText(unit) : std::string();
  serial_ = known && (unit.connectionMode == modeApplication || unit.identityNoted)
                ? std::to_string(unit.serialNumber)
                : std::string();
  softwareBefore_ = known ? SoftwareText(unit) : std::string();
  bootLoaderBefore_ =
      known ? BootLoaderText(unit.bootLoaderVersion, unit.bootLoaderRelease) : std::string();
  bootLoaderVersion_ = unit.bootLoaderVersion;
  softwareAfter_ = softwareBefore_;
  bootLoaderAfter_ = bootLoaderBefore_;
  inHand_ = &unit;
}

void UpdateHistory::LearnBootLoader(const UnitInfo& unit) {
  if (bootLoaderVersion_ != 0 || unit.bootLoaderVersion == 0) return;
  // Software before 6.00 does not tell its boot loader; the boot loader
  // itself did, once the update reached it.
  bootLoaderVersion_ = unit.bootLoaderVersion;
  bootLoaderBefore_ = BootLoaderText(unit.bootLoaderVersion, unit.bootLoaderRelease);
  bootLoaderAfter_ = bootLoaderBefore_;
}

void UpdateHistory::WentThrough(const UnitInfo& unit, bool bootLoader, bool software, bool changed,
                                bool updateFiles, bool fieldbusWritten) {
  Begin(unit);
  LearnBootLoader(unit);
  inHand_ = nullptr;
  const std::string atRestart = updateFiles ? kAtRestart : "";
  if (software) {
    softwareAfter_ = "v" + FormatVersion(kNewSoftwareVersion, kNewSoftwareRelease) + atRestart;
  }
  if (bootLoader) {
    bootLoaderAfter_ = BootLoaderText(bootLoaderVersion_, kNewestBootLoaderRelease) + atRestart;
  }
  if (updateFiles) {
    Write(changed           ? HistoryOutcome::kUpdateFilesSent
          : fieldbusWritten ? HistoryOutcome::kUpdated
                            : HistoryOutcome::kUpToDate,
          "");
    return;
  }
  waiting_ = bootLoader || software || changed || fieldbusWritten ? HistoryOutcome::kUpdated
                                                                  : HistoryOutcome::kUpToDate;
  state_ = State::kWaiting;
}

void UpdateHistory::Refused(const UnitInfo& unit, const std::string& message) {
  Begin(unit);
  LearnBootLoader(unit);
  Write(HistoryOutcome::kRefused, message);
}

void UpdateHistory::Failed(const UnitInfo& unit, const std::string& message) {
  Begin(unit);
  LearnBootLoader(unit);
  Write(HistoryOutcome::kFailed, message);
}

void UpdateHistory::Complete() {
  if (state_ == State::kWaiting) Write(waiting_, "");
  state_ = State::kIdle;
  inHand_ = nullptr;
}

void UpdateHistory::Write(HistoryOutcome outcome, const std::string& message) {
  if (inHand_ != nullptr) LearnBootLoader(*inHand_);
  inHand_ = nullptr;
  if (outcome == HistoryOutcome::kRefused) {
    softwareAfter_ = softwareBefore_;  // nothing was written
    bootLoaderAfter_ = bootLoaderBefore_;
  } else if (outcome == HistoryOutcome::kFailed) {
    // A failure may come part way through writing: what the unit runs now
    // is not known.
    softwareAfter_.clear();
    bootLoaderAfter_.clear();
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f",
                static_cast<double>(rt_.clock.Micros() - startMicros_) / 1e6);
  std::vector<std::string> row = {time_, rt_.env.ComputerName(), rt_.env.UserName(),
                                  "COM" + std::to_string(rt_.options.portNumber),
                                  std::to_string(address_), unitType_, card_, serial_,
                                  softwareBefore_, softwareAfter_, bootLoaderBefore_,
                                  bootLoaderAfter_, OutcomeText(outcome),
                                  WithoutLineEnd(message), seconds};
  summary_.push_back({address_, unitType_, softwareBefore_,
                      softwareAfter_.empty() ? "?" : softwareAfter_, OutcomeText(outcome)});
  // A unit that took update files runs them only after its restart, which
  // the run may still make: its row waits for that, and the rows after it
  // wait with it so the file keeps the order of the units.
  if (outcome == HistoryOutcome::kUpdateFilesSent || !held_.empty()) {
    held_.push_back(std::move(row));
    heldLines_.push_back(summary_.size() - 1);
  } else {
    file_.Append(row);
  }
  state_ = State::kIdle;
}

}  // namespace kel
