// KelUpdater.exe, built beside kel_tests.exe, carries a version resource
// and a manifest made from the constants the program prints.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/text_format.h"
#include "runtime/version.h"

namespace kel {
namespace {

std::string ProgramBesideTests() {
  char self[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path(self, length);
  return path.substr(0, path.find_last_of("\\/") + 1) + "KelUpdater.exe";
}

// One string of the resource's first translation, "" when missing.
std::string StringValue(std::vector<char>& info, const char* name) {
  struct Translation {
    WORD language;
    WORD codePage;
  }* translation = nullptr;
  UINT size = 0;
  if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translation), &size) ||
      size < sizeof(Translation)) {
    return "";
  }
  char key[128];
  std::snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\%s", translation->language,
                translation->codePage, name);
  char* value = nullptr;
  if (!VerQueryValueA(info.data(), key, reinterpret_cast<void**>(&value), &size) || size == 0)
    return "";
  return value;
}

TEST(WindowsResources, VersionResourceSaysWhatTheProgramPrints) {
  const std::string program = ProgramBesideTests();
  DWORD unused = 0;
  const DWORD size = GetFileVersionInfoSizeA(program.c_str(), &unused);
  ASSERT_GT(size, 0u) << program << " has no version resource";
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(program.c_str(), 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  const DWORD major = kProgramVersion / 100, minor = kProgramVersion % 100;
  EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(minor, major)));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, kProgramRelease)));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

  // 610 and 57 read as 6.10.57: the banner's 6.10r57 with a dot.
  const std::string version =
      std::to_string(major) + "." + ZeroPadded(minor, 2) + "." + std::to_string(kProgramRelease);
  EXPECT_EQ(StringValue(info, "FileVersion"), version);
  EXPECT_EQ(StringValue(info, "ProductVersion"), version);
  EXPECT_EQ(StringValue(info, "ProductName"), kProgramName);
  EXPECT_EQ(StringValue(info, "CompanyName"), kProgramMaker);
  EXPECT_EQ(StringValue(info, "FileDescription"), kProgramDescription);
  std::printf("KelUpdater.exe version resource: %s\n", StringValue(info, "FileVersion").c_str());
}

TEST(WindowsResources, ManifestRunsAsInvokerWithLongPathsAndUtf8) {
  const std::string program = ProgramBesideTests();
  HMODULE module = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  std::string manifest;
  if (HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    if (data != nullptr) manifest.assign(data, SizeofResource(module, found));
  }
  FreeLibrary(module);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos) << manifest;
  EXPECT_NE(manifest.find(">true</longPathAware>"), std::string::npos);
  EXPECT_NE(manifest.find(">UTF-8</activeCodePage>"), std::string::npos);
}

}  // namespace
}  // namespace kel
