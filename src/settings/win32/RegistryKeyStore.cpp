// Registry adapter: each call opens the key, acts and closes it again, as the profile's
// primitives expect.
#include "settings/win32/RegistryKeyStore.h"

#include <windows.h>

namespace tovik {
namespace {

class Key {
 public:
  explicit Key(const std::wstring& path, bool create = false) {
    if (create) {
      DWORD disposition = 0;
      m_ok = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &m_key, &disposition) == ERROR_SUCCESS;
    } else {
      m_ok = RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &m_key) == ERROR_SUCCESS;
    }
  }
  ~Key() {
    if (m_ok) RegCloseKey(m_key);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  explicit operator bool() const { return m_ok; }
  HKEY get() const { return m_key; }

 private:
  HKEY m_key = nullptr;
  bool m_ok = false;
};

}  // namespace

bool CRegistryKeyStore::OpenKey(const std::wstring& key) { return static_cast<bool>(Key(key)); }

bool CRegistryKeyStore::CreateKey(const std::wstring& key) { return static_cast<bool>(Key(key, true)); }

bool CRegistryKeyStore::QueryValue(const std::wstring& key, const std::wstring& name, std::size_t capacity,
                                   std::vector<std::uint8_t>& data, ValueType* type) {
  Key k(key);
  if (!k) return false;
  std::vector<std::uint8_t> buffer(capacity ? capacity : 1);
  DWORD size = static_cast<DWORD>(capacity);
  DWORD regType = 0;
  if (RegQueryValueExW(k.get(), name.c_str(), nullptr, &regType, buffer.data(), &size) != ERROR_SUCCESS)
    return false;
  buffer.resize(size);
  data = std::move(buffer);
  if (type) *type = static_cast<ValueType>(regType);
  return true;
}

bool CRegistryKeyStore::ValueExists(const std::wstring& key, const std::wstring& name) {
  Key k(key);
  if (!k) return false;
  DWORD size = 0;
  const LONG rc = RegQueryValueExW(k.get(), name.c_str(), nullptr, nullptr, nullptr, &size);
  return rc == ERROR_SUCCESS || size != 0;
}

bool CRegistryKeyStore::SetValue(const std::wstring& key, const std::wstring& name, ValueType type,
                                 const std::vector<std::uint8_t>& data) {
  Key k(key);
  if (!k) return false;
  return RegSetValueExW(k.get(), name.c_str(), 0, static_cast<DWORD>(type), data.data(),
                        static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool CRegistryKeyStore::DeleteValue(const std::wstring& key, const std::wstring& name) {
  Key k(key);
  if (!k) return false;
  return RegDeleteValueW(k.get(), name.c_str()) == ERROR_SUCCESS;
}

}  // namespace tovik
