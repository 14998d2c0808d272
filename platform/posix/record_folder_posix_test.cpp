#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/record_folder.h"
#include "tests/platform_test_support.h"

namespace kel {
namespace {

namespace fs = std::filesystem;

// The user's folder is made private when missing; one that another user
// put in a shared state folder (here a link) is never used, and the run
// meets the folder beside the program instead.
TEST(RecordFolderPosixTest, MakesTheUsersFolderPrivateAndRefusesAnotherUsersLink) {
  TemporaryFolder dir;
  MapEnvironment env({{"XDG_STATE_HOME", dir.File("state")}, {"HOME", dir.path()}});
  EXPECT_EQ(RecordFolder("/usr/bin/LogFiles", "KelUpdater", env),
            dir.File("state") + "/KelUpdater/LogFiles");
  struct stat info {};
  ASSERT_EQ(stat(dir.File("state").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(stat((dir.File("state") + "/KelUpdater").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  const passwd* other = getpwnam("nobody");
  if (geteuid() != 0 || other == nullptr) GTEST_SKIP() << "planting another user's link needs root";
  ASSERT_TRUE(fs::create_directory(dir.File("elsewhere")));
  ASSERT_EQ(chown(dir.File("elsewhere").c_str(), other->pw_uid, other->pw_gid), 0);
  fs::create_directory_symlink(dir.File("elsewhere"), dir.File("shared"));
  ASSERT_EQ(lchown(dir.File("shared").c_str(), other->pw_uid, other->pw_gid), 0);
  env.Set("XDG_STATE_HOME", dir.path());
  EXPECT_EQ(RecordFolder("/usr/bin/LogFiles", "shared", env), "/usr/bin/LogFiles");
}

}  // namespace
}  // namespace kel
