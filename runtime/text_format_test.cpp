#include "runtime/text_format.h"

#include <gtest/gtest.h>

#include "runtime/debugger_trace.h"
#include "runtime/version.h"

namespace kel {
namespace {

TEST(TextFormat, HexForms) {
  EXPECT_EQ(Hex(0xF0, 2), "F0");
  EXPECT_EQ(Hex(0x1A, 4), "001A");
  EXPECT_EQ(Hex(0x12345, 2), "12345");  // never cut short
  EXPECT_EQ(HexAddress(0xFFFFFFFF), "$FFFFFFFF");
  EXPECT_EQ(HexAddress(0), "$00000000");
}

TEST(TextFormat, TraceBytesStopAfterSeventeen) {
  uint8_t bytes[20];
  for (int i = 0; i < 20; ++i) bytes[i] = static_cast<uint8_t>(i + 60);
  bytes[1] = 0x0D;
  EXPECT_EQ(HexBytes(bytes, 0), "");
  EXPECT_EQ(HexBytes(bytes, 2), "3C 0D");
  EXPECT_EQ(HexBytes(bytes, 17), "3C 0D 3E 3F 40 41 42 43 44 45 46 47 48 49 4A 4B 4C");
  EXPECT_EQ(HexBytes(bytes, 18), "3C 0D 3E 3F 40 41 42 43 44 45 46 47 48 49 4A 4B 4C...");
  EXPECT_EQ(PrintableBytes(bytes, 3), "<_>");
  EXPECT_EQ(PrintableBytes(bytes, 20), "<_>?@ABCDEFGHIJKL...");
}

TEST(TextFormat, NumbersAndVersion) {
  EXPECT_EQ(ZeroPadded(42, 6), "000042");
  EXPECT_EQ(ZeroPadded(1234567, 6), "1234567");
  EXPECT_EQ(ZeroPadded(-5, 3), "-05");
  EXPECT_EQ(LeadingDecimal("  +12x"), 12);
  EXPECT_EQ(LeadingDecimal("-2147483649"), INT32_MIN);
  EXPECT_EQ(LeadingDecimal(""), 0);
  EXPECT_EQ(ProgramVersionText(610, 57), "6.10r57");
  EXPECT_EQ(ProgramVersionText(600, 3), "6.00r03");
}

TEST(DebuggerTraceLine, CounterAdvancesByTicksAndWraps) {
  DebuggerTraceCounter counter;
  EXPECT_EQ(counter.Advance(5000), 0u);
  EXPECT_EQ(counter.Advance(5250), 250u);
  // Across a wrap of the tick count the step is still the true difference.
  DebuggerTraceCounter wrapping;
  wrapping.Advance(0xFFFFFF00u);
  EXPECT_EQ(wrapping.Advance(0x100u), 0x200u);
  // The counter itself wraps at 1843200000.
  DebuggerTraceCounter big;
  big.Advance(0);
  big.Advance(1843199999u);
  EXPECT_EQ(big.Advance(1843200009u), 9u);

  EXPECT_EQ(FormatDebuggerTrace(1234567, 77, "COM3:Speed=19200 StopBits=2 Parity=0"),
            "234567 TID=77 COM3:Speed=19200 StopBits=2 Parity=0\r\n");
}

}  // namespace
}  // namespace kel
