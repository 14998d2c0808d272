#include "platform/environment.h"

#include <gtest/gtest.h>

namespace kel {
namespace {

// The records name the computer and the user by the Windows variables where
// they are set, by the system's own names elsewhere.
TEST(EnvironmentTest, VariablesWinOverTheSystemsNames) {
  struct Case {
    const char* variable;  // nullptr: unset
    const char* expected;
  } cases[] = {{"BENCH7", "BENCH7"}, {"", "host-or-login"}, {nullptr, "host-or-login"}};
  for (const Case& c : cases) {
    MapEnvironment env;
    env.hostName = "host-or-login";
    env.loginName = "host-or-login";
    if (c.variable != nullptr) {
      env.Set("COMPUTERNAME", c.variable);
      env.Set("USERNAME", c.variable);
    }
    EXPECT_EQ(env.ComputerName(), c.expected);
    EXPECT_EQ(env.UserName(), c.expected);
  }
}

TEST(EnvironmentTest, TheSystemNamesTheMachineAndTheUser) {
  EXPECT_FALSE(SystemHostName().empty());
  EXPECT_FALSE(SystemLoginName().empty());
}

}  // namespace
}  // namespace kel
