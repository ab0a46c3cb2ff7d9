#include <gtest/gtest.h>

#include "settings/GeneralProfile.h"
#include "settings/MemoryKeyStore.h"

using namespace tovik;

namespace {

const std::wstring kKey = L"Software\\Velmora\\config";

ProfileEnvironment Env(std::wstring docs = L"C:\\users\\u\\Documents", int major = 10) {
  return ProfileEnvironment{[docs] { return docs; }, [major] { return major; },
                            [] { return std::wstring(L"C:\\Program Files\\Tovik\\TovikSkypeRecorder.exe"); }};
}

std::vector<std::uint8_t> Utf16Bytes(const std::wstring& s) {
  std::vector<std::uint8_t> b;
  for (wchar_t c : s) { b.push_back(std::uint8_t(c)); b.push_back(std::uint8_t(c >> 8)); }
  b.push_back(0); b.push_back(0);
  return b;
}

}  // namespace

TEST(SettingsProfile, FirstLoadWritesAllValuesWithTheirKindsAndDefaults) {
  CMemoryKeyStore store;
  CGeneralProfile p(store, Env());
  p.defmic = L"Microphone (USB)";
  ASSERT_TRUE(p.Load());
  EXPECT_EQ(store.ValueCount(kKey), 24u);

  struct Expect { const wchar_t* name; ValueType type; std::vector<std::uint8_t> data; };
  const Expect expected[] = {
      {L"autostart", ValueType::Binary, {1}},     {L"notifycov", ValueType::Binary, {1}},
      {L"starthide", ValueType::Binary, {0}},     {L"rectype", ValueType::Binary, {1}},
      {L"onlinereply", ValueType::Binary, {0}},   {L"recside", ValueType::Dword, {0, 0, 0, 0}},
      {L"amode", ValueType::Dword, {1, 0, 0, 0}}, {L"capf", ValueType::Dword, {1, 0, 0, 0}},
      {L"position", ValueType::String, {0, 0}},
      {L"sfolder", ValueType::String, Utf16Bytes(L"C:\\users\\u\\Documents\\Tovik Skype Recorder")},
      {L"replytxt", ValueType::String, Utf16Bytes(L"/me is not available for chat.")},
      {L"defmic", ValueType::String, Utf16Bytes(L"Microphone (USB)")},
  };
  for (const Expect& e : expected) {
    const auto* v = store.Find(kKey, e.name);
    ASSERT_NE(v, nullptr) << e.name;
    EXPECT_EQ(v->type, e.type) << e.name;
    EXPECT_EQ(v->data, e.data) << e.name;
  }
}

TEST(SettingsProfile, DamagedValuesAreRewrittenFromMemoryNotFactoryDefaults) {
  CMemoryKeyStore store;
  CGeneralProfile p(store, Env());
  p.Load();
  p.recside = 2;              // changed in memory, never saved
  p.sfolder = L"D:\\calls";
  p.autostart = 0;
  store.DeleteValue(kKey, L"recside");
  store.SetValue(kKey, L"sfolder", ValueType::String, Utf16Bytes(std::wstring(300, L'x')));
  store.SetValue(kKey, L"autostart", ValueType::Dword, {1, 0, 0, 0});
  store.SetValue(kKey, L"amode", ValueType::Binary, {2});  // too small for a number
  p.amode = 0;
  p.Load();

  EXPECT_EQ(p.recside, 2);
  EXPECT_EQ(store.Find(kKey, L"recside")->data, (std::vector<std::uint8_t>{2, 0, 0, 0}));
  EXPECT_EQ(p.sfolder, L"D:\\calls");
  EXPECT_EQ(store.Find(kKey, L"sfolder")->data, Utf16Bytes(L"D:\\calls"));
  EXPECT_EQ(p.autostart, 0);
  EXPECT_EQ(store.Find(kKey, L"autostart")->type, ValueType::Binary);
  EXPECT_EQ(store.Find(kKey, L"autostart")->data, (std::vector<std::uint8_t>{0}));
  EXPECT_EQ(p.amode, 0);
  EXPECT_EQ(store.Find(kKey, L"amode")->type, ValueType::Dword);
}

TEST(SettingsProfile, TextLimitIs259Characters) {
  CMemoryKeyStore store;
  CGeneralProfile p(store, Env());
  p.Load();
  store.SetValue(kKey, L"hispos", ValueType::String, Utf16Bytes(std::wstring(259, L'7')));
  store.SetValue(kKey, L"position", ValueType::String, Utf16Bytes(std::wstring(260, L'7')));
  p.Load();
  EXPECT_EQ(p.hispos.size(), 259u);
  EXPECT_EQ(p.position, L"");
}

TEST(SettingsProfile, SavedValuesSurviveANewProfile) {
  CMemoryKeyStore store;
  {
    CGeneralProfile p(store, Env());
    p.Load();
    p.hispos = L"10,20,310,220";
    p.abitrate = 4;
    p.defspkID = L"{0.0.0.00000000}.{\x0416}";
    p.Save();
  }
  CGeneralProfile q(store, Env());
  q.Load();
  EXPECT_EQ(q.hispos, L"10,20,310,220");
  EXPECT_EQ(q.abitrate, 4);
  EXPECT_EQ(q.defspkID, L"{0.0.0.00000000}.{\x0416}");
}

TEST(SettingsProfile, DefaultsFollowTheMachine) {
  CMemoryKeyStore store;
  EXPECT_EQ(CGeneralProfile(store, Env(L"", 5)).capf, 0);
  EXPECT_EQ(CGeneralProfile(store, Env(L"", 6)).capf, 1);
  EXPECT_EQ(CGeneralProfile(store, Env(L"", 6)).sfolder, L"");  // no Documents folder
}

TEST(SettingsProfile, AutoStartKeepsAnExistingEntryAndDeletesOnDisable) {
  CMemoryKeyStore store;
  CGeneralProfile p(store, Env());
  EXPECT_EQ(p.EnableAutoStart(), 0);  // no Run key
  store.CreateKey(CGeneralProfile::kRunKey);
  EXPECT_EQ(p.DisableAutoStart(), 0);  // nothing to delete
  EXPECT_EQ(p.EnableAutoStart(), 1);
  EXPECT_EQ(store.Find(CGeneralProfile::kRunKey, L"Velmora")->data,
            Utf16Bytes(L"\"C:\\Program Files\\Tovik\\TovikSkypeRecorder.exe\""));

  store.SetValue(CGeneralProfile::kRunKey, L"Velmora", ValueType::String, Utf16Bytes(L"\"D:\\other.exe\""));
  EXPECT_EQ(p.EnableAutoStart(), 1);
  EXPECT_EQ(store.Find(CGeneralProfile::kRunKey, L"Velmora")->data, Utf16Bytes(L"\"D:\\other.exe\""));
  EXPECT_EQ(p.DisableAutoStart(), 1);
  EXPECT_EQ(store.Find(CGeneralProfile::kRunKey, L"Velmora"), nullptr);
}

TEST(SettingsProfile, UnwritableStoreLeavesMemoryAlone) {
  CMemoryKeyStore store;
  store.SetReadOnly(true);
  CGeneralProfile p(store, Env());
  p.rectype = 0;
  p.Load();
  EXPECT_EQ(p.rectype, 0);
  EXPECT_EQ(store.ValueCount(kKey), 0u);
}

TEST(SettingsProfile, SettingsByName) {
  CMemoryKeyStore store;
  CGeneralProfile p(store, Env());
  p.capf = 0;
  p.onlinereply = 1;
  p.replytxt = L"brb";
  EXPECT_EQ(p.Number(L"capf"), 0);
  EXPECT_EQ(p.Number(L"onlinereply"), 1);
  EXPECT_EQ(p.Number(L"asample"), 1);
  EXPECT_EQ(p.Text(L"replytxt"), L"brb");
  EXPECT_FALSE(p.Number(L"replytxt").has_value());
  EXPECT_FALSE(p.Text(L"capf").has_value());
  EXPECT_FALSE(p.Number(L"nosuch").has_value());
}
