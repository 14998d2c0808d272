#include "unit/transfer_meter.h"

#include <gtest/gtest.h>

#include "tests/unit_fixture.h"

namespace kel {
namespace {

TEST(TransferMeter, ATransferOfNoTimeShowsItsZeroAndARateAsForOneMillisecond) {
  UnitFixture f;
  TransferMeter meter;
  meter.Start(500, f.port);
  f.port.totalSent += 10;
  meter.ReportSent(f.out, 500, f.port);
  EXPECT_NE(f.Console().find("Bytes sent = 10 : Time = 0 mS : Data rate = 110000 baud"),
            std::string::npos)
      << f.Console();
}

}  // namespace
}  // namespace kel
