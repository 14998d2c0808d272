#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "platform/file_registry.h"
#include "platform/posix/child_process_posix_test.h"
#include "platform/registry.h"
#include "tests/planted_paths.h"
#include "tests/platform_test_support.h"

namespace kel {
namespace {

constexpr char kCommPortValue[] = "SOFTWARE\\Arkwend\\Ponderix\\CommPort";

// Run in a child, since the settings folder comes from the environment.
TEST(RegistryPosixTest, ValuesGoUnderXdgConfigHomeElseHomeConfig) {
  TemporaryFolder dir;
  ChildResult child = RunForked([&](int report) {
    setenv("XDG_CONFIG_HOME", dir.File("xdg").c_str(), 1);
    SystemRegistry().WriteString(kCommPortValue, "12");
    std::string seen = ReadTextFile(dir.File("xdg/Arkwend/Ponderix/CommPort")) + " ";
    seen += SystemRegistry().ReadString(kCommPortValue) + " ";

    // Unset or relative: $HOME/.config.
    setenv("XDG_CONFIG_HOME", "relative", 1);
    std::filesystem::create_directory(dir.File("home"));
    setenv("HOME", dir.File("home").c_str(), 1);
    seen += '[';
    seen += SystemRegistry().ReadString(kCommPortValue);
    seen += "] ";
    unsetenv("XDG_CONFIG_HOME");
    SystemRegistry().WriteString(kCommPortValue, "4");
    seen += ReadTextFile(dir.File("home/.config/Arkwend/Ponderix/CommPort")) + " ";
    SystemRegistry().WriteString(kCommPortValue, "");
    seen += '[';
    seen += SystemRegistry().ReadString(kCommPortValue);
    seen += ']';
    WriteAll(report, seen);
  });
  EXPECT_EQ(child.report, "12 12 [] 4 []");
}

// An ordinary user's settings follow HOME even to a home not made yet or
// not the user's own (a shared folder in a container): they are the
// user's files wherever they go. Run as nobody when the tests run as root.
TEST(RegistryPosixTest, AnOrdinaryUsersSettingsFollowHome) {
  const passwd* other = getpwnam("nobody");
  if (geteuid() == 0 && other == nullptr) {
    GTEST_SKIP() << "needs an ordinary user";
  }
  TemporaryFolder dir;
  const std::string shared = dir.File("shared");
  std::filesystem::create_directory(shared);
  std::filesystem::permissions(shared,
                               std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(dir.path().c_str(), other->pw_uid, other->pw_gid), 0);
  }
  ChildResult child = RunForked([&](int report) {
    if (geteuid() == 0 && (setgid(other->pw_gid) != 0 || setuid(other->pw_uid) != 0)) _exit(3);
    unsetenv("XDG_CONFIG_HOME");
    std::string seen;
    for (const std::string& home : {dir.File("new"), shared}) {
      setenv("HOME", home.c_str(), 1);
      SystemRegistry().WriteString(kCommPortValue, "9");
      seen += ReadTextFile(home + "/.config/Arkwend/Ponderix/CommPort");
    }
    WriteAll(report, seen);
  });
  EXPECT_EQ(child.report, "99");
}

// Root keeping another user's HOME and XDG_CONFIG_HOME (sudo -E) keeps its
// settings in its own home: none are made in the other user's folders,
// where they would stay root's and the user's own runs could no longer
// replace or remove them.
TEST(RegistryPosixTest, RootWithAnotherUsersHomeKeepsItsSettingsInItsOwn) {
  const passwd* other = getpwnam("nobody");
  if (geteuid() != 0 || other == nullptr) GTEST_SKIP() << "needs root";
  TemporaryFolder dir;
  const std::string home = dir.File("home");
  std::filesystem::create_directories(home + "/.config");
  for (const std::string& path : {home, home + "/.config"}) {
    ASSERT_EQ(chown(path.c_str(), other->pw_uid, other->pw_gid), 0);
  }
  constexpr char kValue[] = "SOFTWARE\\Arkwend\\Ponderix\\KelRegistryPosixTest";
  ChildResult child = RunForked([&](int report) {
    std::string seen;
    for (const bool keptConfig : {false, true}) {
      setenv("HOME", home.c_str(), 1);
      if (keptConfig) {
        setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
      } else {
        unsetenv("XDG_CONFIG_HOME");
      }
      SystemRegistry().WriteString(kValue, "7");
      seen += SystemRegistry().ReadString(kValue);
      seen += std::filesystem::is_empty(home + "/.config") ? " kept out," : " written there,";
      SystemRegistry().WriteString(kValue, "");
    }
    WriteAll(report, seen);
  });
  EXPECT_EQ(child.report, "7 kept out,7 kept out,");
}

// The remembered port's file against whatever stands at its name: only a
// regular file is read (a FIFO or an endless device would hang or fill the
// memory) and only a regular file or nothing is replaced; a link planted
// at the name of the file it is written through leads nowhere.
TEST(RegistryPosixTest, TheSettingsFileIsReadAndWrittenOnlyAsARegularFile) {
  for (Planted kind :
       {Planted::kNothing, Planted::kRegular, Planted::kLinkToRegular, Planted::kLinkToDevice,
        Planted::kDeviceNode, Planted::kFifo, Planted::kFolder, Planted::kEndlessDevice}) {
    TemporaryFolder dir;
    FileRegistry registry(dir.path());
    const std::string file = registry.ValueFile(kCommPortValue);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    const std::string victim = dir.File("victim");
    if (!Plant(kind, file, victim)) {
      std::cout << "not run without root: " << PlantedName(kind) << "\n";
      continue;
    }
    const std::string before = Snapshot(file, victim);
    const auto start = std::chrono::steady_clock::now();
    const std::string read = registry.ReadString(kCommPortValue);
    // A link is not read either: the writer would never replace or remove it.
    EXPECT_EQ(read, kind == Planted::kRegular ? "original" : "") << PlantedName(kind);
    registry.WriteString(kCommPortValue, "12");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    if (kind == Planted::kNothing || kind == Planted::kRegular) {
      EXPECT_EQ(ReadTextFile(file), "12") << PlantedName(kind);
    } else {
      EXPECT_EQ(Snapshot(file, victim), before) << PlantedName(kind);
    }
  }

  // A link planted where the new value is written first.
  TemporaryFolder dir;
  FileRegistry registry(dir.path());
  const std::string file = registry.ValueFile(kCommPortValue);
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  ASSERT_TRUE(WriteTextFile(file, "7"));
  ASSERT_TRUE(Plant(Planted::kLinkToRegular, file + ".new", dir.File("victim")));
  registry.WriteString(kCommPortValue, "12");
  EXPECT_EQ(ReadTextFile(file), "7");
  EXPECT_EQ(Snapshot(file + ".new", dir.File("victim")),
            "link to " + dir.File("victim") + " | victim: victim");
}

}  // namespace
}  // namespace kel
