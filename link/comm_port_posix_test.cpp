// The lock marker against whatever stands at its name in a shared lock
// folder (POSIX): only a leftover file of this user is replaced; a link, a
// device, a FIFO, a folder or another user's file stays as it is, and the
// port opens all the same.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>

#include "link/comm_port.h"
#include "tests/link_fixture.h"
#include "tests/planted_paths.h"

namespace kel {
namespace {

TEST(CommPortLockMarker, WhateverStandsAtItsNameIsLeftAsItWas) {
  for (Planted kind : {Planted::kNothing, Planted::kRegular, Planted::kLinkToRegular,
                       Planted::kLinkToDevice, Planted::kDeviceNode, Planted::kFifo,
                       Planted::kFolder, Planted::kEndlessDevice, Planted::kOtherUsersFile}) {
    TemporaryFolder dir;
    const std::string marker = dir.File("lockPonderixCommPort3");
    const std::string victim = dir.File("victim");
    if (!Plant(kind, marker, victim)) {
      std::cout << "not run without root: " << PlantedName(kind) << "\n";
      continue;
    }
    const std::string before = Snapshot(marker, victim);
    LinkFixture f;
    f.env.Set("PONDERIXLOCKDIR", dir.path());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(f.port.OpenPort()) << PlantedName(kind);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    const bool ours = kind == Planted::kNothing || kind == Planted::kRegular;
    EXPECT_EQ(f.port.settings().lockFilePath.empty(), !ours) << PlantedName(kind);
    if (ours) {
      EXPECT_EQ(Snapshot(marker, victim).rfind("file of", 0), 0u) << PlantedName(kind);
    } else {
      EXPECT_EQ(Snapshot(marker, victim), before) << PlantedName(kind);
      EXPECT_NE(f.Console().find("Cannot create lock file " + marker + "\r\nError: "),
                std::string::npos);
    }
    f.port.ClosePort();
    EXPECT_EQ(Snapshot(marker, victim), ours ? "nothing | victim: victim" : before)
        << PlantedName(kind);
  }
}

}  // namespace
}  // namespace kel
