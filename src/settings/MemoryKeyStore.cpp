#include "settings/MemoryKeyStore.h"

#include "base/Text.h"

namespace tovik {

std::wstring CMemoryKeyStore::Fold(const std::wstring& s) {
  std::wstring k = ToLowerAscii(s);
  while (!k.empty() && k.back() == L'\\') k.pop_back();
  return k;
}

bool CMemoryKeyStore::OpenKey(const std::wstring& key) { return m_keys.count(Fold(key)) != 0; }

bool CMemoryKeyStore::CreateKey(const std::wstring& key) {
  const std::wstring k = Fold(key);
  if (m_keys.count(k)) return true;
  if (m_readOnly) return false;
  for (size_t p = k.find(L'\\'); p != std::wstring::npos; p = k.find(L'\\', p + 1))
    m_keys.insert(k.substr(0, p));
  m_keys.insert(k);
  return true;
}

bool CMemoryKeyStore::QueryValue(const std::wstring& key, const std::wstring& name, std::size_t capacity,
                                 std::vector<std::uint8_t>& data, ValueType* type) {
  const Value* v = Find(key, name);
  if (!v || v->data.size() > capacity) return false;
  data = v->data;
  if (type) *type = v->type;
  return true;
}

bool CMemoryKeyStore::ValueExists(const std::wstring& key, const std::wstring& name) {
  return Find(key, name) != nullptr;
}

bool CMemoryKeyStore::SetValue(const std::wstring& key, const std::wstring& name, ValueType type,
                               const std::vector<std::uint8_t>& data) {
  if (m_readOnly || !OpenKey(key)) return false;
  m_values[Fold(key)][ToLowerAscii(name)] = Value{type, data};
  return true;
}

bool CMemoryKeyStore::DeleteValue(const std::wstring& key, const std::wstring& name) {
  if (m_readOnly) return false;
  auto it = m_values.find(Fold(key));
  return it != m_values.end() && it->second.erase(ToLowerAscii(name)) != 0;
}

const CMemoryKeyStore::Value* CMemoryKeyStore::Find(const std::wstring& key, const std::wstring& name) const {
  auto it = m_values.find(Fold(key));
  if (it == m_values.end()) return nullptr;
  auto jt = it->second.find(ToLowerAscii(name));
  return jt == it->second.end() ? nullptr : &jt->second;
}

std::size_t CMemoryKeyStore::ValueCount(const std::wstring& key) const {
  auto it = m_values.find(Fold(key));
  return it == m_values.end() ? 0 : it->second.size();
}

}  // namespace tovik
