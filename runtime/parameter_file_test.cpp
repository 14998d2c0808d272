#include "runtime/parameter_file.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "tests/platform_test_support.h"
#include "tests/runtime_fixture.h"

namespace kel {
namespace {

class ParameterFileTest : public ::testing::Test {
 protected:
  std::string Get(const std::string& key) { return GetParam(f.runtime, file, key); }
  void Write(const std::string& key, const std::string& value) {
    WriteParam(f.runtime, file, key, value);
  }
  std::string Content() { return ReadTextFile(file); }

  TemporaryFolder folder;
  std::string file = folder.File("cfg.ini");
  RuntimeFixture f;
};

TEST_F(ParameterFileTest, ReadsTheFirstMatchingLineExactly) {
  ASSERT_TRUE(WriteTextFile(file,
                            "[Section]\r\nKey=a=b\r\nMessage=first\r\nMessage=second\r\n"
                            "key=lower\r\nBare\r\nEmpty=\r\nLast=no line break"));
  EXPECT_EQ(Get("Key"), "a=b");
  EXPECT_EQ(Get("key"), "lower");
  EXPECT_EQ(Get("Message"), "first");
  EXPECT_EQ(Get("Bare"), "");
  EXPECT_EQ(Get("Empty"), "");
  EXPECT_EQ(Get("Last"), "no line break");
  EXPECT_EQ(Get("Missing"), "");
  EXPECT_EQ(Get("Ke"), "");  // a prefix of a key is not the key
  EXPECT_EQ(Get("[Section]"), "");
}

// A job saved with a byte-order mark and blanks around "=" is the same job;
// a rewrite replaces the blank-spaced line and keeps the mark.
TEST_F(ParameterFileTest, AByteOrderMarkAndBlanksAroundKeysAndValuesAreLayout) {
  ASSERT_TRUE(WriteTextFile(file,
                            "\xEF\xBB\xBFKelManufacture = 1\r\n\tProgram\t=\ttrue \r\n"
                            "Message = old = reason \r\n"));
  EXPECT_TRUE(GetParamBool(f.runtime, file, "KelManufacture"));
  EXPECT_TRUE(GetParamBool(f.runtime, file, "Program"));
  EXPECT_EQ(Get("Message"), "old = reason");
  EXPECT_EQ(Get("message"), "");  // keys still compare exactly
  Write("Message", "");
  EXPECT_EQ(Content(), "\xEF\xBB\xBFKelManufacture = 1\r\n\tProgram\t=\ttrue \r\nMessage=\r\n");
  EXPECT_EQ(Get("Message"), "");
}

TEST_F(ParameterFileTest, AcceptsBareLineFeeds) {
  ASSERT_TRUE(WriteTextFile(file, "A=1\nB=2\n"));
  EXPECT_EQ(Get("A"), "1");
  EXPECT_EQ(Get("B"), "2");
}

// Line ends converted twice ("\r\r\n") and CR-only files are read line by
// line, and a rewrite keeps the file's own line ends.
TEST_F(ParameterFileTest, EveryLineEndStyleIsReadAndKept) {
  struct Case {
    const char* end;
    const char* name;
  };
  for (const Case c : {Case{"\r\r\n", "converted twice"}, Case{"\r", "CR"}, Case{"\n", "LF"},
                       Case{"\r\n", "CR LF"}}) {
    SCOPED_TRACE(c.name);
    const std::string end = c.end;
    ASSERT_TRUE(WriteTextFile(file, "KelManufacture=1" + end + "Message=old" + end + "Program=1"));
    EXPECT_TRUE(GetParamBool(f.runtime, file, "KelManufacture"));
    EXPECT_EQ(Get("Message"), "old");
    Write("Message", "Unable to connect");
    EXPECT_EQ(Content(),
              "KelManufacture=1" + end + "Message=Unable to connect" + end + "Program=1" + end);
  }
}

TEST_F(ParameterFileTest, MissingOrUnnamedFileReadsEmpty) {
  EXPECT_EQ(Get("KelManufacture"), "");
  EXPECT_FALSE(GetParamBool(f.runtime, file, "KelManufacture"));
  EXPECT_EQ(GetParam(f.runtime, "", "Key"), "");
  EXPECT_FALSE(FileExists(file));
}

TEST_F(ParameterFileTest, BooleanAndNumberReadings) {
  ASSERT_TRUE(WriteTextFile(file,
                            "T1=true\r\nT2=TRUE\r\nT3=1\r\nT4= true\r\nF1=yes\r\nF2=\r\nF3=10\r\n"
                            "N1=42abc\r\nN2=-7\r\nN3=x\r\nN4=\r\nN5=99999999999\r\n"));
  for (const char* key : {"T1", "T2", "T3", "T4"})
    EXPECT_TRUE(GetParamBool(f.runtime, file, key)) << key;
  for (const char* key : {"F1", "F2", "F3", "Nope"}) {
    EXPECT_FALSE(GetParamBool(f.runtime, file, key)) << key;
  }
  EXPECT_EQ(GetParamInt(f.runtime, file, "N1"), 42);
  EXPECT_EQ(GetParamInt(f.runtime, file, "N2"), -7);
  EXPECT_EQ(GetParamInt(f.runtime, file, "N3"), 0);
  EXPECT_EQ(GetParamInt(f.runtime, file, "N4"), 0);
  EXPECT_EQ(GetParamInt(f.runtime, file, "N5"), INT32_MAX);
}

TEST_F(ParameterFileTest, RewriteReplacesEveryMatchAndEndsEveryLine) {
  ASSERT_TRUE(WriteTextFile(file, "Message=old\r\nProgram=1\nMessage=older\r\nTail=x"));
  Write("Message", "Unable to connect");
  EXPECT_EQ(Content(),
            "Message=Unable to connect\r\nProgram=1\r\nMessage=Unable to connect\r\nTail=x\r\n");
  EXPECT_EQ(Get("Message"), "Unable to connect");
  EXPECT_FALSE(FileExists(file + ".000"));
}

TEST_F(ParameterFileTest, RewriteAppendsAMissingKeyAndCreatesAMissingFile) {
  Write("Message", "one");
  EXPECT_EQ(Content(), "Message=one\r\n");
  WriteParamInt(f.runtime, file, "Count", -12);
  EXPECT_EQ(Content(), "Message=one\r\nCount=-12\r\n");
  EXPECT_EQ(GetParamInt(f.runtime, file, "Count"), -12);
}

TEST_F(ParameterFileTest, RewriteCreatesTheFolder) {
  std::string nested = folder.File("a") + PathSeparator() + "b" + PathSeparator() + "p.ini";
  WriteParam(f.runtime, nested, "K", "v");
  EXPECT_EQ(ReadTextFile(nested), "K=v\r\n");
}

TEST_F(ParameterFileTest, LeftoverCompanionFromACrashIsHarmless) {
  // A run that died between writing the companion and moving it into place.
  ASSERT_TRUE(WriteTextFile(file, "Program=1\r\n"));
  ASSERT_TRUE(WriteTextFile(file + ".000", "Program=1\r\nMessa"));
  EXPECT_EQ(Get("Program"), "1");
  EXPECT_EQ(Get("Messa"), "");
  Write("Message", "done");
  EXPECT_EQ(Content(), "Program=1\r\nMessage=done\r\n");
  EXPECT_FALSE(FileExists(file + ".000"));
}

// A companion that cannot be made (here a folder in its way; in the field
// a folder the user may not write in) leaves the file itself, written where
// it stands in its own line-end style.
TEST_F(ParameterFileTest, CompanionThatCannotBeMadeWritesTheFileInPlace) {
  ASSERT_TRUE(CreateFolders(file + ".000"));
  ASSERT_TRUE(WriteTextFile(file, "A=1\nB=x\n"));
  EXPECT_EQ(f.ExitCodeOf([&] { Write("A", "2"); }), -1);
  EXPECT_EQ(f.console.output(), "");
  EXPECT_EQ(Content(), "A=2\nB=x\n");
}

}  // namespace
}  // namespace kel
