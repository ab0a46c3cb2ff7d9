#include "settings/GeneralProfile.h"

#include <cstring>
#include <type_traits>

#include "base/Text.h"

namespace tovik {
namespace {

// Buffers of the read primitives; a value that does not fit is rewritten.
constexpr std::size_t kByteCapacity = 1;
constexpr std::size_t kDwordCapacity = 4;
constexpr std::size_t kMaxTextChars = 260;  // including the terminating NUL

std::vector<std::uint8_t> EncodeString(const std::wstring& value) {
  std::u16string u = WideToUtf16(value);
  u.push_back(u'\0');
  std::vector<std::uint8_t> bytes(u.size() * 2);
  for (size_t i = 0; i < u.size(); ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(u[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(u[i] >> 8);
  }
  return bytes;
}

std::wstring DecodeString(const std::vector<std::uint8_t>& bytes) {
  std::u16string u;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (c == 0) break;  // the text ends at its first NUL, stored or not
    u.push_back(c);
  }
  return Utf16ToWide(u);
}

CGeneralProfile* g_instance = nullptr;

}  // namespace

std::uint8_t CProfileBase::ReadByteValue(const std::wstring& key, const std::wstring& name, std::uint8_t def) {
  std::vector<std::uint8_t> data;
  if (m_store.OpenKey(key) && m_store.QueryValue(key, name, kByteCapacity, data) && data.size() == kByteCapacity)
    return data[0];
  WriteByteValue(key, name, def);
  return def;
}

std::int32_t CProfileBase::ReadDwordValue(const std::wstring& key, const std::wstring& name, std::int32_t def) {
  std::vector<std::uint8_t> data;
  if (m_store.OpenKey(key) && m_store.QueryValue(key, name, kDwordCapacity, data) && data.size() == kDwordCapacity) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | data[i];
    return static_cast<std::int32_t>(v);
  }
  WriteDwordValue(key, name, def);
  return def;
}

std::wstring CProfileBase::ReadStringValue(const std::wstring& key, const std::wstring& name, const std::wstring& def) {
  std::vector<std::uint8_t> data;
  if (m_store.OpenKey(key) && m_store.QueryValue(key, name, kMaxTextChars * 2, data)) {
    std::wstring text = DecodeString(data);
    // 260 characters with no room for the NUL do not fit the buffer either.
    if (WideToUtf16(text).size() < kMaxTextChars) return text;
  }
  WriteStringValue(key, name, def);
  return def;
}

void CProfileBase::WriteByteValue(const std::wstring& key, const std::wstring& name, std::uint8_t value) {
  if (m_store.OpenKey(key) || m_store.CreateKey(key)) m_store.SetValue(key, name, ValueType::Binary, {value});
}

void CProfileBase::WriteDwordValue(const std::wstring& key, const std::wstring& name, std::int32_t value) {
  const auto u = static_cast<std::uint32_t>(value);
  std::vector<std::uint8_t> data{static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
                                 static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
  if (m_store.OpenKey(key) || m_store.CreateKey(key)) m_store.SetValue(key, name, ValueType::Dword, data);
}

void CProfileBase::WriteStringValue(const std::wstring& key, const std::wstring& name, const std::wstring& value) {
  if (m_store.OpenKey(key) || m_store.CreateKey(key)) m_store.SetValue(key, name, ValueType::String, EncodeString(value));
}

CGeneralProfile::CGeneralProfile(IKeyStore& store, ProfileEnvironment env)
    : CProfileBase(store), m_env(std::move(env)), m_key(m_root + L"config") {
  SetDefaults();
}

CGeneralProfile* CGeneralProfile::Instance() { return g_instance; }
void CGeneralProfile::SetInstance(CGeneralProfile* profile) { g_instance = profile; }

template <typename Visitor>
void CGeneralProfile::ForEachValue(Visitor&& v) {
  v(L"autostart", autostart);
  v(L"notifycov", notifycov);
  v(L"notifyfinish", notifyfinish);
  v(L"notifyhistory", notifyhistory);
  v(L"position", position);
  v(L"hispos", hispos);
  v(L"starthide", starthide);
  v(L"topmost", topmost);
  v(L"sticksky", sticksky);
  v(L"rectype", rectype);
  v(L"recside", recside);
  v(L"sfolder", sfolder);
  v(L"amode", amode);
  v(L"abitrate", abitrate);
  v(L"asample", asample);
  v(L"capf", capf);
  v(L"chatreply", chatreply);
  v(L"onlinereply", onlinereply);
  v(L"notonlinereply", notonlinereply);
  v(L"replytxt", replytxt);
  v(L"defmic", defmic);
  v(L"defspk", defspk);
  v(L"defmicID", defmicID);
  v(L"defspkID", defspkID);
}

namespace {
struct Loader {
  CProfileBase& p;
  const std::wstring& key;
  void operator()(const wchar_t* name, std::uint8_t& f) { f = p.ReadByteValue(key, name, f); }
  void operator()(const wchar_t* name, std::int32_t& f) { f = p.ReadDwordValue(key, name, f); }
  void operator()(const wchar_t* name, std::wstring& f) { f = p.ReadStringValue(key, name, f); }
};
struct Saver {
  CProfileBase& p;
  const std::wstring& key;
  void operator()(const wchar_t* name, std::uint8_t& f) { p.WriteByteValue(key, name, f); }
  void operator()(const wchar_t* name, std::int32_t& f) { p.WriteDwordValue(key, name, f); }
  void operator()(const wchar_t* name, std::wstring& f) { p.WriteStringValue(key, name, f); }
};
}  // namespace

std::optional<int> CGeneralProfile::Number(const std::wstring& name) const {
  std::optional<int> out;
  const_cast<CGeneralProfile*>(this)->ForEachValue([&](const wchar_t* n, auto& field) {
    using T = std::decay_t<decltype(field)>;
    if constexpr (!std::is_same_v<T, std::wstring>)
      if (name == n) out = static_cast<int>(field);
  });
  return out;
}

std::optional<std::wstring> CGeneralProfile::Text(const std::wstring& name) const {
  std::optional<std::wstring> out;
  const_cast<CGeneralProfile*>(this)->ForEachValue([&](const wchar_t* n, auto& field) {
    using T = std::decay_t<decltype(field)>;
    if constexpr (std::is_same_v<T, std::wstring>)
      if (name == n) out = field;
  });
  return out;
}

bool CGeneralProfile::Load() {
  ForEachValue(Loader{*this, m_key});
  return true;
}

bool CGeneralProfile::Save() {
  ForEachValue(Saver{*this, m_key});
  return true;
}

bool CGeneralProfile::SetDefaults() {
  autostart = 1;
  notifycov = 1;
  notifyfinish = 1;
  notifyhistory = 1;
  position.clear();
  hispos.clear();
  starthide = 0;
  topmost = 0;
  sticksky = 0;
  rectype = 1;
  recside = 0;
  sfolder.clear();
  if (m_env.documentsFolder) {
    std::wstring docs = m_env.documentsFolder();
    if (!docs.empty()) sfolder = docs + L"\\Tovik Skype Recorder";
  }
  amode = 1;
  abitrate = 1;
  asample = 1;
  capf = (m_env.osMajorVersion && m_env.osMajorVersion() <= 5) ? 0 : 1;
  chatreply = 1;
  onlinereply = 0;
  notonlinereply = 1;
  replytxt = L"/me is not available for chat.";
  defmic.clear();
  defspk.clear();
  defmicID.clear();
  defspkID.clear();
  return true;
}

int CGeneralProfile::EnableAutoStart() {
  if (!m_store.OpenKey(kRunKey)) return 0;
  // An existing entry is never rewritten, even when it names another path.
  if (m_store.ValueExists(kRunKey, kRunValue)) return 1;
  std::wstring path = m_env.executablePath ? m_env.executablePath() : std::wstring();
  if (path.empty()) return 0;
  if (path.size() > 520) path.resize(520);
  const std::wstring command = L"\"" + path + L"\"";
  return m_store.SetValue(kRunKey, kRunValue, ValueType::String, EncodeString(command)) ? 1 : 0;
}

int CGeneralProfile::DisableAutoStart() {
  if (!m_store.OpenKey(kRunKey)) return 0;
  return m_store.DeleteValue(kRunKey, kRunValue) ? 1 : 0;
}

}  // namespace tovik
