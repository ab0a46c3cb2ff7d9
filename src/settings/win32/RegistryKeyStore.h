#pragma once
// The key store over the current user's registry hive (HKEY_CURRENT_USER).
#include "settings/KeyStore.h"

namespace tovik {

class CRegistryKeyStore : public IKeyStore {
 public:
  bool OpenKey(const std::wstring& key) override;
  bool CreateKey(const std::wstring& key) override;
  bool QueryValue(const std::wstring& key, const std::wstring& name, std::size_t capacity,
                  std::vector<std::uint8_t>& data, ValueType* type) override;
  bool ValueExists(const std::wstring& key, const std::wstring& name) override;
  bool SetValue(const std::wstring& key, const std::wstring& name, ValueType type,
                const std::vector<std::uint8_t>& data) override;
  bool DeleteValue(const std::wstring& key, const std::wstring& name) override;
};

}  // namespace tovik
