#include "platform/record_folder.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

// The folder kept beside the program when the user can write it there,
// else the one of the same name in the user's state folder, and beside
// the program again when the user has none.
TEST(RecordFolderTest, ChoosesBesideTheProgramOrTheUsersStateFolder) {
  struct Case {
    const char* beside;
    bool writable;
    const char* stateHome;  ///< XDG_STATE_HOME; null when unset
    const char* home;       ///< HOME; null when unset
    const char* expected;
  };
  const Case cases[] = {
      {"/opt/kel/LogFiles", true, "/s", "/home/anna", "/opt/kel/LogFiles"},
      {"/opt/kel/LogFiles", false, nullptr, "/home/anna",
       "/home/anna/.local/state/KelUpdater/LogFiles"},
      {"/opt/kel/PonderixLogFiles", false, "/var/state", "/home/anna",
       "/var/state/KelUpdater/PonderixLogFiles"},
      // Trailing slashes never give a "//" in the paths.
      {"/opt/kel/LogFiles", false, "/var/state//", "/home/anna", "/var/state/KelUpdater/LogFiles"},
      {"/opt/kel/LogFiles", false, nullptr, "/home/anna/",
       "/home/anna/.local/state/KelUpdater/LogFiles"},
      {"/opt/kel/LogFiles", false, "/", "/home/anna", "/KelUpdater/LogFiles"},
      // A relative XDG_STATE_HOME is invalid and ignored.
      {"/opt/kel/LogFiles", false, "state", "/home/anna",
       "/home/anna/.local/state/KelUpdater/LogFiles"},
      // The system's command folders hold no records, even for root.
      {"/usr/bin/LogFiles", true, nullptr, "/root", "/root/.local/state/KelUpdater/LogFiles"},
      {"/usr/local/bin/PonderixLogFiles", true, "/s", "/root", "/s/KelUpdater/PonderixLogFiles"},
      {"/usr/bin/kel/LogFiles", true, nullptr, "/root", "/usr/bin/kel/LogFiles"},
      // No usable home: the run meets the folder beside the program.
      {"/usr/bin/LogFiles", false, nullptr, nullptr, "/usr/bin/LogFiles"},
      {"/usr/bin/LogFiles", false, "", "", "/usr/bin/LogFiles"},
      {"/usr/bin/LogFiles", false, nullptr, "anna", "/usr/bin/LogFiles"},
  };
  for (const Case& c : cases) {
    MapEnvironment env;
    if (c.stateHome != nullptr) env.Set("XDG_STATE_HOME", c.stateHome);
    if (c.home != nullptr) env.Set("HOME", c.home);
    EXPECT_EQ(ChooseRecordFolder(c.beside, c.writable, "KelUpdater", env), c.expected)
        << c.beside << " writable=" << c.writable
        << " XDG_STATE_HOME=" << (c.stateHome ? c.stateHome : "(unset)")
        << " HOME=" << (c.home ? c.home : "(unset)");
  }
}

// On Windows: beside the program when the user can write there, else in
// the user's local application data, and beside the program again when
// that is not an absolute path.
TEST(RecordFolderTest, OnWindowsChoosesBesideTheProgramOrLocalAppData) {
  struct Case {
    const char* beside;
    bool writable;
    const char* localAppData;  ///< null when unset
    const char* expected;
  };
  const Case cases[] = {
      {"D:\\Tools\\LogFiles", true, "C:\\Users\\a\\AppData\\Local", "D:\\Tools\\LogFiles"},
      {"C:\\Program Files\\Kel\\LogFiles", false, "C:\\Users\\a\\AppData\\Local",
       "C:\\Users\\a\\AppData\\Local\\KelUpdater\\LogFiles"},
      {"C:\\Program Files\\Kel\\PonderixLogFiles", false, "C:\\Users\\a\\AppData\\Local\\",
       "C:\\Users\\a\\AppData\\Local\\KelUpdater\\PonderixLogFiles"},
      {"C:\\Program Files\\Kel\\LogFiles", false, "\\\\server\\home\\a",
       "\\\\server\\home\\a\\KelUpdater\\LogFiles"},
      {"C:\\Program Files\\Kel\\LogFiles", false, nullptr, "C:\\Program Files\\Kel\\LogFiles"},
      {"C:\\Program Files\\Kel\\LogFiles", false, "AppData", "C:\\Program Files\\Kel\\LogFiles"},
  };
  for (const Case& c : cases) {
    MapEnvironment env;
    if (c.localAppData != nullptr) env.Set("LOCALAPPDATA", c.localAppData);
    EXPECT_EQ(ChooseWindowsRecordFolder(c.beside, c.writable, "KelUpdater", env), c.expected)
        << c.beside << " writable=" << c.writable;
  }
}

}  // namespace
}  // namespace kel
