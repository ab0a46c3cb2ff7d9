// The profile and the autostart entry against the real registry (runs under Wine).
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>

#include "settings/GeneralProfile.h"
#include "settings/win32/RegistryKeyStore.h"

using namespace tovik;

namespace {

ProfileEnvironment Env() {
  return ProfileEnvironment{[] { return std::wstring(L"C:\\docs"); }, [] { return 10; },
                            [] { return std::wstring(L"C:\\Program Files\\Tovik\\TovikSkypeRecorder.exe"); }};
}

DWORD TypeOf(const wchar_t* key, const wchar_t* name, DWORD* size) {
  DWORD type = 0;
  *size = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_ANY, &type, nullptr, size) != ERROR_SUCCESS) return 0;
  return type;
}

}  // namespace

TEST(SettingsRegistryWin32, LoadRepairsValuesOfTheWrongKindInTheRealRegistry) {
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Velmora");
  CRegistryKeyStore store;
  CGeneralProfile p(store, Env());
  p.Load();
  DWORD size = 0;
  EXPECT_EQ(TypeOf(L"Software\\Velmora\\config", L"autostart", &size), DWORD(REG_BINARY));
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(TypeOf(L"Software\\Velmora\\config", L"asample", &size), DWORD(REG_DWORD));

  const DWORD four = 0;
  RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Velmora\\config", L"autostart", REG_DWORD, &four, 4);
  p.autostart = 0;
  p.Load();
  EXPECT_EQ(TypeOf(L"Software\\Velmora\\config", L"autostart", &size), DWORD(REG_BINARY));
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(p.autostart, 0);
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Velmora");
}

TEST(SettingsRegistryWin32, EnableAutoStartLeavesAnExistingRunValueAlone) {
  const wchar_t* run = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  CRegistryKeyStore store;
  ASSERT_TRUE(store.CreateKey(run));
  CGeneralProfile p(store, Env());

  const wchar_t other[] = L"\"D:\\other.exe\"";
  RegSetKeyValueW(HKEY_CURRENT_USER, run, L"Velmora", REG_SZ, other, sizeof other);
  EXPECT_EQ(p.EnableAutoStart(), 1);
  wchar_t buf[600] = {};
  DWORD size = sizeof buf;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, run, L"Velmora", RRF_RT_REG_SZ, nullptr, buf, &size), ERROR_SUCCESS);
  EXPECT_STREQ(buf, other);

  EXPECT_EQ(p.DisableAutoStart(), 1);
  EXPECT_EQ(p.DisableAutoStart(), 0);
  EXPECT_EQ(p.EnableAutoStart(), 1);
  size = sizeof buf;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, run, L"Velmora", RRF_RT_REG_SZ, nullptr, buf, &size), ERROR_SUCCESS);
  EXPECT_STREQ(buf, L"\"C:\\Program Files\\Tovik\\TovikSkypeRecorder.exe\"");
  EXPECT_EQ(size, sizeof(L"\"C:\\Program Files\\Tovik\\TovikSkypeRecorder.exe\""));
  p.DisableAutoStart();
}
#endif
