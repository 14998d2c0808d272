#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/posix/child_process_posix_test.h"
#include "tests/platform_test_support.h"

namespace kel {
namespace {

constexpr char kCommPort[] = "SOFTWARE\\Arkwend\\Ponderix\\CommPort";

// Run in a child, since the settings folder comes from the environment.
TEST(RegistryPosixTest, ValuesGoUnderXdgConfigHomeElseHomeConfig) {
  TemporaryFolder dir;
  ChildResult child = RunForked([&](int report) {
    setenv("XDG_CONFIG_HOME", dir.File("xdg").c_str(), 1);
    SystemRegistry().WriteString(kCommPort, "12");
    std::string seen = ReadTextFile(dir.File("xdg/Arkwend/Ponderix/CommPort")) + " ";
    seen += SystemRegistry().ReadString(kCommPort) + " ";

    // Unset or relative: $HOME/.config.
    setenv("XDG_CONFIG_HOME", "relative", 1);
    setenv("HOME", dir.File("home").c_str(), 1);
    seen += '[';
    seen += SystemRegistry().ReadString(kCommPort);
    seen += "] ";
    unsetenv("XDG_CONFIG_HOME");
    SystemRegistry().WriteString(kCommPort, "4");
    seen += ReadTextFile(dir.File("home/.config/Arkwend/Ponderix/CommPort")) + " ";
    SystemRegistry().WriteString(kCommPort, "");
    seen += '[';
    seen += SystemRegistry().ReadString(kCommPort);
    seen += ']';
    WriteAll(report, seen);
  });
  EXPECT_EQ(child.report, "12 12 [] 4 []");
}

}  // namespace
}  // namespace kel
