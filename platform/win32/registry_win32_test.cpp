#include <gtest/gtest.h>
#include <windows.h>

#include "platform/registry.h"

namespace kel {
namespace {

constexpr char kKey[] = "SOFTWARE\\KelUpdaterTests";
constexpr char kValue[] = "SOFTWARE\\KelUpdaterTests\\CommPort";

TEST(RegistryWin32Test, WritesReadsAndDeletesStringValue) {
  Registry& registry = SystemRegistry();
  registry.WriteString(kValue, "12");
  EXPECT_EQ(registry.ReadString(kValue), "12");
  registry.WriteString(kValue, "");
  EXPECT_EQ(registry.ReadString(kValue), "");
  registry.WriteString(kValue, "");  // deleting a missing value is silent
  EXPECT_EQ(registry.ReadString("SOFTWARE\\KelUpdaterTests\\Missing\\CommPort"), "");
  RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
}

TEST(RegistryWin32Test, ValueThatIsNotAStringReadsEmpty) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  DWORD number = 12;
  RegSetValueExA(key, "CommPort", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                 sizeof(number));
  EXPECT_EQ(SystemRegistry().ReadString(kValue), "");
  // A string without its terminating zero, as long as the buffer, still reads safely.
  std::string full(256, '7');
  RegSetValueExA(key, "CommPort", 0, REG_SZ, reinterpret_cast<const BYTE*>(full.data()),
                 static_cast<DWORD>(full.size()));
  EXPECT_EQ(SystemRegistry().ReadString(kValue), full);
  RegCloseKey(key);
  RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
}

}  // namespace
}  // namespace kel
