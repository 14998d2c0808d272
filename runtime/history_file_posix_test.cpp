// The update history shared by concurrent runs, and what stands at its
// path when that is not a regular file (POSIX).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <map>
#include <sstream>

#include "platform/posix/child_process_posix_test.h"
#include "runtime/history_file.h"
#include "tests/planted_paths.h"
#include "tests/platform_test_support.h"
#include "tests/runtime_fixture.h"

namespace kel {
namespace {

TEST(HistoryFileConcurrency, EightWritersLoseAndSplitNoRow) {
  constexpr int kWriters = 8;
  constexpr int kRows = 200;
  TemporaryFolder folder;
  const std::string path = folder.File(kHistoryFileName);
  // Long rows, so that a row split by another writer's would show.
  const std::string padding(300, 'p');
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      RuntimeFixture f;
      HistoryFile history(f.runtime, path);
      for (int row = 0; row < kRows; ++row) {
        history.Append({std::to_string(writer), std::to_string(row), padding});
      }
      _exit(f.Console().empty() ? 0 : 1);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  std::istringstream rows(ReadTextFile(path));
  std::string line;
  ASSERT_TRUE(std::getline(rows, line));
  EXPECT_EQ(line + "\n", kHistoryHeader);
  std::map<int, int> nextRow;
  int count = 0;
  while (std::getline(rows, line)) {
    int writer = -1, row = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "%d,%d,", &writer, &row), 2) << line;
    EXPECT_EQ(line, std::to_string(writer) + "," + std::to_string(row) + "," + padding + "\r");
    // Each writer's rows stand in its own order, none missing.
    EXPECT_EQ(row, nextRow[writer]++) << line;
    ++count;
  }
  EXPECT_EQ(count, kWriters * kRows);
}

// Another program holding the file's lock (a spreadsheet that has it open)
// costs a bounded wait and one message, never a run that hangs.
TEST(HistoryFileSafety, ALockHeldElsewhereIsWaitedForABoundedTime) {
  TemporaryFolder folder;
  const std::string path = folder.File(kHistoryFileName);
  ASSERT_TRUE(WriteTextFile(path, ""));
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    const int fd = open(path.c_str(), O_WRONLY);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fd < 0 || fcntl(fd, F_SETLK, &lock) != 0) _exit(1);
    if (write(ready[1], "x", 1) != 1) _exit(1);
    sleep(30);
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  RuntimeFixture f;
  HistoryFile history(f.runtime, path);
  const auto start = std::chrono::steady_clock::now();
  history.Append({"row"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_NE(f.Console().find("locked by another program"), std::string::npos) << f.Console();
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
}

// A row that does not fit (a full disk, here the file size limit) is taken
// back whole, so the next row starts on a line of its own.
TEST(HistoryFileSafety, ARowCutShortIsTakenBack) {
  TemporaryFolder folder;
  const std::string path = folder.File(kHistoryFileName);
  const std::string row(200, 'r');
  ChildResult child = RunForked([&](int report) {
    std::signal(SIGXFSZ, SIG_IGN);
    RuntimeFixture f;
    HistoryFile history(f.runtime, path);
    history.Append({"first"});
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlim_t open = limit.rlim_cur;
    limit.rlim_cur = std::strlen(kHistoryHeader) + 7 + 50;  // room for part of the row
    setrlimit(RLIMIT_FSIZE, &limit);
    history.Append({row});
    limit.rlim_cur = open;
    setrlimit(RLIMIT_FSIZE, &limit);
    history.Append({"third"});
    WriteAll(report, f.Console());
  });
  EXPECT_NE(child.report.find("Cannot write the update history " + path + ": "), std::string::npos)
      << child.report;
  EXPECT_EQ(ReadTextFile(path), std::string(kHistoryHeader) + "first\r\nthird\r\n");
}

TEST(HistoryFileSafety, WhatIsNoRegularFileIsLeftAlone) {
  for (Planted kind : {Planted::kLinkToRegular, Planted::kLinkToDevice, Planted::kFifo,
                       Planted::kFolder, Planted::kEndlessDevice}) {
    SCOPED_TRACE(PlantedName(kind));
    TemporaryFolder folder;
    const std::string path = folder.File(kHistoryFileName);
    const std::string victim = folder.File("victim");
    ASSERT_TRUE(Plant(kind, path, victim));
    const std::string before = Snapshot(path, victim);
    RuntimeFixture f;
    HistoryFile history(f.runtime, path);
    history.Append({"row"});
    EXPECT_EQ(Snapshot(path, victim), before);
    EXPECT_NE(f.Console().find("not a regular file"), std::string::npos);
  }
}

}  // namespace
}  // namespace kel
