// Replies to the remote-unit list and to the identification of each listed
// unit: the unit table, the search for a matching remote unit and the proxy
// search behind a test jig.
#include "fuzz/fuzz_link.h"
#include "unit/remote_units.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kel;
  fuzz::FuzzInput input(data, size);
  fuzz::FuzzLink& f = input.link;
  UnitInfo connected;
  connected.connectionMode = modeApplication;
  connected.unitAddress = 1;
  connected.modbusAddress = 1;
  connected.softwareVersion = 610;
  connected.cardNumber = f.source.Byte() & 1 ? kTestJigCard : 659;
  fuzz::Guarded([&] {
    std::vector<uint8_t> table;
    ListUnits(f.link, connected, table);
    UnitInfo found;
    SearchForMatchingRemoteUnit(f.link, connected, 2, 5, 4, found);
    SearchForMatchingProxyUnit(f.link, connected, 2, 5, 4, found);
  });
  return 0;
}
