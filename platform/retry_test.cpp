#include "platform/retry.h"

#include <gtest/gtest.h>

#include "platform/virtual_clock.h"

namespace kel {
namespace {

// A hold that ends within the limit is waited out; one that does not gives
// up once the limit has passed, not before and not long after.
TEST(RetryTest, WaitsOutAHoldUpToTheLimit) {
  struct Case {
    int failures;  // calls that fail before one succeeds
    bool succeeds;
    uint32_t elapsedMs;
  } cases[] = {{0, true, 0}, {3, true, 150}, {1000, false, 2000}};
  for (const Case& c : cases) {
    VirtualClock clock;
    int calls = 0;
    const uint32_t start = clock.Ticks();
    EXPECT_EQ(RetryFor(clock, 2000, 50, [&] { return calls++ >= c.failures; }), c.succeeds);
    EXPECT_EQ(clock.Ticks() - start, c.elapsedMs) << c.failures;
  }
}

}  // namespace
}  // namespace kel
