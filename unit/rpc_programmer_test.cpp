#include "unit/rpc_programmer.h"

#include <gtest/gtest.h>

#include "tests/unit_fixture.h"
#include "unit/rpc_boot_loader.h"

namespace kel {
namespace {

struct ProgrammerCallTest : ::testing::Test, UnitFixture {
  /// Answers with the request's own arguments (the first `echoed` of them)
  /// followed by `extra`.
  void Echo(size_t echoed, std::vector<uint8_t> extra = {}) {
    peer.answer = [echoed, extra](const std::vector<uint8_t>& request) {
      std::vector<uint8_t> fields(request.begin() + 4, request.begin() + 4 + echoed);
      fields.insert(fields.end(), extra.begin(), extra.end());
      return wire::Reply(request[0], wire::Command(request), fields);
    };
  }
};

TEST_F(ProgrammerCallTest, MemoryWritesNeedTheirArgumentsEchoed) {
  const uint8_t data[3] = {0xAA, 0xBB, 0xCC};
  Echo(5);
  EXPECT_TRUE(rpc::WriteMemory(link, 0x10000200, data, 3));
  EXPECT_EQ(peer.Requests()[0], (std::vector<uint8_t>{0x01, 0x45, 0x10, 0x20, 0x10, 0x00, 0x02,
                                                      0x00, 3, 0xAA, 0xBB, 0xCC}));
  peer.answer = [](const std::vector<uint8_t>& request) {
    return wire::Reply(request[0], 0x1020, {0x10, 0x00, 0x02, 0x80, 3});  // another address
  };
  EXPECT_FALSE(rpc::WriteMemory(link, 0x10000200, data, 3));
  Echo(6);
  EXPECT_TRUE(rpc::WriteMemoryLarge(link, 0x10000200, data, 3));
}

TEST_F(ProgrammerCallTest, ExamineAndReadFlashReturnTheData) {
  Echo(5, {1, 2, 3, 4});
  uint8_t out[4] = {};
  EXPECT_TRUE(rpc::ExamineMemory(link, 0x4000, 4, out));
  EXPECT_EQ(out[3], 4);

  std::vector<uint8_t> piece(128);
  for (size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<uint8_t>(i);
  Echo(5, piece);
  uint8_t flash[128] = {};
  EXPECT_TRUE(rpc::Read128(link, 0x1A000000, flash));
  EXPECT_EQ(flash[127], 127);
}

TEST_F(ProgrammerCallTest, EraseFmsSucceedsWhateverTheResult) {
  Echo(1, {3});
  uint8_t result = 0;
  EXPECT_TRUE(rpc::EraseFms(link, 1, result));
  EXPECT_EQ(result, 3);
  EXPECT_EQ(peer.Requests()[0], (std::vector<uint8_t>{0x01, 0x45, 0x10, 0x36, 1, 'F', 'M', 'S'}));
  EXPECT_NE(Console().find("RPC: EraseFMS\r\nCOMPLETE: Result=03"), std::string::npos);
}

TEST_F(ProgrammerCallTest, BootLoaderCallsUseTheirAddresses) {
  options.unitId = 0x22;
  state.bootLoaderAddress = 1;
  Echo(0);
  EXPECT_TRUE(rpc::GotoBootLoader(link));
  EXPECT_EQ(peer.Requests()[0][0], 0x22);
  Echo(0, {6, 2});
  UnitInfo unit;
  EXPECT_TRUE(rpc::GetProgrammerVersion(link, unit));
  EXPECT_EQ(peer.Requests()[1][0], 0x01);
  EXPECT_EQ(unit.programmerVersion[0], 6);
  EXPECT_EQ(unit.programmerVersion[1], 2);
  Echo(0);
  EXPECT_TRUE(rpc::SetProgrammerSpeedOnce(link, true, 5));
  EXPECT_EQ(peer.Requests()[2], (std::vector<uint8_t>{0x01, 0x45, 0x10, 0x90, 5}));
}

}  // namespace
}  // namespace kel
