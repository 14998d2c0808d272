// The parameter file where POSIX permissions decide: a file another user
// owns in a shared (sticky) folder can be read and written, but not
// replaced, so the rewrite cannot be moved into place; the reason still
// goes into the file where it stands.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/child_process_posix_test.h"
#include "runtime/parameter_file.h"
#include "tests/platform_test_support.h"
#include "tests/runtime_fixture.h"

namespace kel {
namespace {

TEST(ParameterFilePosix, ReplaceFailureReportsTheLockedFile) {
  const passwd* user = getpwnam("nobody");
  if (geteuid() != 0 || user == nullptr) GTEST_SKIP() << "needs root and the user \"nobody\"";
  TemporaryFolder folder;
  ASSERT_EQ(chmod(folder.path().c_str(), 01777), 0);  // like /tmp
  const std::string file = folder.File("cfg.ini");
  ASSERT_TRUE(WriteTextFile(file, "A=1\r\n"));
  ASSERT_EQ(chmod(file.c_str(), 0666), 0);

  ChildResult child = RunForked([&](int report) {
    if (setgid(user->pw_gid) != 0 || setuid(user->pw_uid) != 0) _exit(90);
    RuntimeFixture f;
    const uint32_t start = f.clock.Ticks();
    const int code = f.ExitCodeOf([&] { WriteParam(f.runtime, file, "A", "2"); });
    // A hold that lasts is waited on for two seconds, then reported.
    const uint32_t waited = f.clock.Ticks() - start;
    WriteAll(report,
             std::to_string(code) + "|" + std::to_string(waited) + "|" + f.console.output());
  });
  EXPECT_EQ(child.report, "1|2000|\r\nINI File is locked: " + file);
  // The file itself can be written: it tells the script why the run ended.
  EXPECT_EQ(ReadTextFile(file), "A=1\r\nMessage=INI File is locked: " + file + "\r\n");
  EXPECT_EQ(ReadTextFile(file + ".000"), "A=2\r\n");  // left behind, as documented
}

// In a folder the user may not write in, the file is written where it
// stands when it may be written; when it may not either, the run ends on
// the companion it could not make and the file stays as it was.
TEST(ParameterFilePosix, FolderNotWritableWritesTheFileInPlaceIfItCan) {
  const passwd* user = getpwnam("nobody");
  if (geteuid() != 0 || user == nullptr) GTEST_SKIP() << "needs root and the user \"nobody\"";
  for (const bool writable : {true, false}) {
    TemporaryFolder folder;
    const std::string file = folder.File("cfg.ini");
    ASSERT_TRUE(WriteTextFile(file, "A=1\nB=x\n"));
    ASSERT_EQ(chmod(file.c_str(), writable ? 0666 : 0644), 0);
    ASSERT_EQ(chmod(folder.path().c_str(), 0555), 0);

    ChildResult child = RunForked([&](int report) {
      if (setgid(user->pw_gid) != 0 || setuid(user->pw_uid) != 0) _exit(90);
      RuntimeFixture f;
      const int code = f.ExitCodeOf([&] { WriteParam(f.runtime, file, "A", "2"); });
      WriteAll(report, std::to_string(code) + "|" + f.console.output());
    });
    if (writable) {
      EXPECT_EQ(child.report, "-1|");  // no end of the run, nothing said
      EXPECT_EQ(ReadTextFile(file), "A=2\nB=x\n");
    } else {
      EXPECT_EQ(child.report, "1|Fatal error: " + file + ".000: Permission denied");
      EXPECT_EQ(ReadTextFile(file), "A=1\nB=x\n");
    }
    EXPECT_FALSE(FileExists(file + ".000"));
  }
}

}  // namespace
}  // namespace kel
