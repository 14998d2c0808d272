#include "runtime/history_file.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "tests/platform_test_support.h"
#include "tests/runtime_fixture.h"

namespace kel {
namespace {

TEST(HistoryFile, RowsAreCsvAsSpreadsheetsReadThem) {
  struct Case {
    std::vector<std::string> fields;
    std::string row;
  };
  const Case cases[] = {
      {{"a", "", "v4 r18"}, "a,,v4 r18\r\n"},
      {{"x,y", "say \"hi\""}, "\"x,y\",\"say \"\"hi\"\"\"\r\n"},
      {{"two\r\nlines"}, "\"two\r\nlines\"\r\n"},
      {{"=HYPERLINK(1)", "+1", "-2", "@a", "a=b"}, "'=HYPERLINK(1),'+1,'-2,'@a,a=b\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(CsvRow(c.fields), c.row);
}

TEST(HistoryFile, TimeIsIsoLocalTimeWithItsOffset) {
  EXPECT_EQ(IsoLocalTime({2026, 12, 8, 14, 3, 27, 60}), "2026-12-08T14:03:27+01:00");
  EXPECT_EQ(IsoLocalTime({2026, 1, 2, 3, 4, 5, -330}), "2026-01-02T03:04:05-05:30");
  EXPECT_EQ(IsoLocalTime({2026, 7, 1, 0, 0, 0, 0}), "2026-07-01T00:00:00+00:00");
}

TEST(HistoryFile, HeaderOnceThenRowsAppended) {
  TemporaryFolder folder;
  RuntimeFixture f;
  HistoryFile history(f.runtime, folder.File(kHistoryFileName));
  history.Append({"1", "a,b"});
  history.Append({"2", ""});
  EXPECT_EQ(ReadTextFile(history.path()), std::string(kHistoryHeader) + "1,\"a,b\"\r\n2,\r\n");
  EXPECT_EQ(f.Console(), "");
}

TEST(HistoryFile, UnwritableHistoryIsSaidOnceAndTheRunGoesOn) {
  TemporaryFolder folder;
  RuntimeFixture f;
  HistoryFile history(f.runtime, folder.File("missing") + PathSeparator() + kHistoryFileName);
  history.Append({"1"});
  history.Append({"2"});
  const std::string console = f.Console();
  const size_t first = console.find("Cannot write the update history ");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(console.find("Cannot write the update history ", first + 1), std::string::npos);
}

}  // namespace
}  // namespace kel
