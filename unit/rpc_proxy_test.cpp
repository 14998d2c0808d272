#include "unit/rpc_proxy.h"

#include <gtest/gtest.h>

#include "tests/unit_fixture.h"
#include "unit/rpc_files.h"

namespace kel {
namespace {

struct NetworkCallTest : ::testing::Test, UnitFixture {
  NetworkCallTest() { options.unitId = 0x10; }
  void AnswerWith(std::vector<uint8_t> fields) {
    peer.answer = [fields](const std::vector<uint8_t>& request) {
      return wire::Reply(request[0], wire::Command(request), fields);
    };
  }
  static std::vector<uint8_t> Counted(size_t count, size_t width) {
    std::vector<uint8_t> fields = {static_cast<uint8_t>(count)};
    for (size_t i = 0; i < count * width; ++i) fields.push_back(static_cast<uint8_t>(i + 1));
    return fields;
  }
  UnitInfo unit = RunningUnit(0x10);
};

TEST_F(NetworkCallTest, ListRemoteUnitsKeepsTheAddresses) {
  AnswerWith({3, 0x21, 0x22, 0x30});
  std::vector<uint8_t> addresses = {99};
  EXPECT_TRUE(ListRemoteUnits(link, addresses));
  EXPECT_EQ(peer.Requests()[0], (std::vector<uint8_t>{0x10, 0x45, 0x10, 0x17}));
  EXPECT_EQ(addresses, (std::vector<uint8_t>{0x21, 0x22, 0x30}));
  EXPECT_NE(Console().find("COMPLETE: 3 unit(s) found"), std::string::npos);

  AnswerWith({0});
  EXPECT_TRUE(ListRemoteUnits(link, addresses));
  EXPECT_TRUE(addresses.empty());
}

TEST_F(NetworkCallTest, ListOfMoreThanAHundredUnitsIsReadButNotKept) {
  AnswerWith(Counted(101, 1));
  std::vector<uint8_t> addresses;
  EXPECT_TRUE(ListRemoteUnits(link, addresses));
  EXPECT_EQ(peer.frames.size(), 1u);  // the whole reply was taken in at once
  EXPECT_TRUE(addresses.empty());
  EXPECT_NE(Console().find("COMPLETE: 101 unit(s) found"), std::string::npos);
}

TEST_F(NetworkCallTest, TooManyDebugLogsFailsWithoutDisturbingTheNextCall) {
  AnswerWith(Counted(33, 2));
  std::vector<uint16_t> numbers;
  EXPECT_FALSE(GetDebugLogs(link, unit, numbers));
  EXPECT_NE(Console().find("Too many file ids"), std::string::npos);
  EXPECT_TRUE(numbers.empty());

  AnswerWith({2, 0x01, 0x40, 0x01, 0x41});
  EXPECT_TRUE(GetDebugLogs(link, unit, numbers));
  EXPECT_EQ(numbers, (std::vector<uint16_t>{0x140, 0x141}));
}

TEST_F(NetworkCallTest, DebugLogsOnlyFromApplicationSoftware) {
  unit.connectionMode = modePonderixBootLoader;
  std::vector<uint16_t> numbers;
  EXPECT_FALSE(GetDebugLogs(link, unit, numbers));
  EXPECT_TRUE(peer.frames.empty());
}

TEST_F(NetworkCallTest, ProxySearchReportsTheUnitBehindTheJig) {
  AnswerWith({0, 2, 0x00, 0x01, 0xC2, 0x00, 0x31, 1});
  ProxySearchResult found;
  EXPECT_TRUE(SearchKelUpdaterProxy(link, 0x10, found));
  EXPECT_EQ(found.portNumber, 2);
  EXPECT_EQ(found.baudRate, 115200u);
  EXPECT_EQ(found.unitAddress, 0x31);
  EXPECT_TRUE(found.bootLoader);
  EXPECT_NE(Console().find("COMPLETE: Result=00 PortNumber=2 BaudRate=115200 UnitID=49 "
                           "BootLoader=1"),
            std::string::npos)
      << Console();

  AnswerWith({4, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_FALSE(SearchKelUpdaterProxy(link, 0x10, found));
  EXPECT_EQ(peer.frames.size(), 2u);  // a result is an answer, not a reason to retry
}

TEST_F(NetworkCallTest, ProxyOpenAndCloseJudgeTheResultByte) {
  AnswerWith({0});
  EXPECT_TRUE(OpenKelUpdaterProxy(link, 0x10));
  AnswerWith({1});
  EXPECT_FALSE(CloseKelUpdaterProxy(link, 0x10));
  EXPECT_NE(Console().find("COMPLETE: Result=01"), std::string::npos);
  peer.answer = nullptr;
  peer.frames.clear();
  EXPECT_FALSE(OpenKelUpdaterProxy(link, 0x10));
  EXPECT_EQ(peer.frames.size(), 2u);
}

TEST_F(NetworkCallTest, FileAttributesWithPropertiesAndEchoCheck) {
  std::vector<uint8_t> fields = {
      1, 0x01, 0x02, 0, 0x00, 0x00, 0x10, 0x00,  // drive, file, result, size
      0, 0,    0,    1, 0,    0,    0,    2,    0, 0, 0, 3, 0, 0, 0, 4, 3, 'a', 'b', 'c'};
  AnswerWith(fields);
  FileAttributes attributes;
  EXPECT_TRUE(rpc::GetFileAttributes(link, 0x10, 1, 0x0102, 4096, attributes));
  EXPECT_EQ(peer.Requests()[0],
            (std::vector<uint8_t>{0x10, 0x45, 0x10, 0x2F, 1, 0x01, 0x02, 0, 0, 0x10, 0}));
  EXPECT_EQ(attributes.size, 4096u);
  EXPECT_EQ(attributes.checksums[3], 4u);
  EXPECT_EQ(attributes.properties, (std::vector<uint8_t>{'a', 'b', 'c'}));
  EXPECT_NE(Console().find("RPC: GetFileAttributes FileNo=0102 DriveNo=01 in Unit 16"),
            std::string::npos);

  peer.frames.clear();
  uint8_t result = 0;
  AnswerWith({1, 0x01, 0x03, 0});  // another file's echo
  EXPECT_FALSE(rpc::OpenFile(link, 0x10, 1, 0x0102, result));
  EXPECT_EQ(peer.frames.size(), 8u);
}

}  // namespace
}  // namespace kel
