#pragma once
// IKeyStore kept in memory, with the registry's semantics: case-insensitive key and value
// names, typed values, a read that fails when the value does not fit its buffer.
#include <map>
#include <set>

#include "settings/KeyStore.h"

namespace tovik {

class CMemoryKeyStore : public IKeyStore {
 public:
  struct Value {
    ValueType type = ValueType::Other;
    std::vector<std::uint8_t> data;
  };

  bool OpenKey(const std::wstring& key) override;
  bool CreateKey(const std::wstring& key) override;
  bool QueryValue(const std::wstring& key, const std::wstring& name, std::size_t capacity,
                  std::vector<std::uint8_t>& data, ValueType* type) override;
  bool ValueExists(const std::wstring& key, const std::wstring& name) override;
  bool SetValue(const std::wstring& key, const std::wstring& name, ValueType type,
                const std::vector<std::uint8_t>& data) override;
  bool DeleteValue(const std::wstring& key, const std::wstring& name) override;

  // Test helpers.
  const Value* Find(const std::wstring& key, const std::wstring& name) const;
  std::size_t ValueCount(const std::wstring& key) const;
  void SetReadOnly(bool readOnly) { m_readOnly = readOnly; }

 private:
  static std::wstring Fold(const std::wstring& s);
  std::set<std::wstring> m_keys;
  std::map<std::wstring, std::map<std::wstring, Value>> m_values;
  bool m_readOnly = false;
};

}  // namespace tovik
