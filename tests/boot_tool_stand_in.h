#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/platform_test_support.h"

namespace kel {

/// A stand-in boot tool: a shell script that runs `body`, installed as
/// bin/KelBoot.exe under `folder`. POSIX only (it needs a shell).
inline std::string InstallTool(const TemporaryFolder& folder, const std::string& body) {
  std::filesystem::create_directories(folder.File("bin"));
  const std::string tool = folder.File("bin") + "/KelBoot.exe";
  EXPECT_TRUE(WriteTextFile(tool, "#!/bin/sh\n" + body + "\n"));
  std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
  return tool;
}

}  // namespace kel
