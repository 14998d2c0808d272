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
// put in a shared state folder (here a link) is never used, and the one
// in the user's home is taken instead.
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
  env.Set("HOME", dir.File("home"));
  ASSERT_TRUE(fs::create_directory(dir.File("home")));
  EXPECT_EQ(RecordFolder("/usr/bin/LogFiles", "shared", env),
            dir.File("home") + "/.local/state/shared/LogFiles");
}

// Root keeping another user's HOME and XDG_STATE_HOME (sudo -E), or
// without HOME, neither makes folders in that home nor falls back into a
// system command folder: its records go to root's own home.
TEST(RecordFolderPosixTest, RootWithAnotherUsersHomeUsesItsOwn) {
  const passwd* other = getpwnam("nobody");
  const passwd* root = getpwuid(0);
  if (geteuid() != 0 || other == nullptr || root == nullptr) GTEST_SKIP() << "needs root";
  TemporaryFolder dir;
  const std::string home = dir.File("home");
  ASSERT_TRUE(fs::create_directories(home + "/.local/state"));
  for (const std::string& path : {home, home + "/.local", home + "/.local/state"}) {
    ASSERT_EQ(chown(path.c_str(), other->pw_uid, other->pw_gid), 0);
  }
  const std::string name = "kel-record-folder-test";
  const std::string own = std::string(root->pw_dir) + "/.local/state/" + name;
  std::error_code ignored;
  fs::remove_all(own, ignored);

  MapEnvironment keptHome({{"HOME", home}});
  MapEnvironment keptState({{"HOME", home}, {"XDG_STATE_HOME", home + "/.local/state"}});
  MapEnvironment noHome;  // sudo without HOME, env -i: never /usr/local/bin/LogFiles
  for (MapEnvironment* env : {&keptHome, &keptState, &noHome}) {
    EXPECT_EQ(RecordFolder("/usr/local/bin/LogFiles", name, *env), own + "/LogFiles");
    EXPECT_TRUE(fs::is_empty(home + "/.local/state"));
  }
  fs::remove_all(own, ignored);
}

}  // namespace
}  // namespace kel
