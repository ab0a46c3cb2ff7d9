#include "skype/ContactDirectory.h"

#include "base/Text.h"

namespace tovik {

void CContactDirectory::Add(const std::wstring& handle) {
  std::lock_guard<std::mutex> hold(m_lock);
  for (const auto& e : m_entries)
    if (e.first == handle) return;
  m_entries.emplace_back(handle, std::wstring());
}

int CContactDirectory::SetFullName(const std::wstring& handle, const std::wstring& name) {
  std::lock_guard<std::mutex> hold(m_lock);
  for (size_t i = 0; i < m_entries.size(); ++i) {
    if (m_entries[i].first == handle) {
      m_entries[i].second = name;
      return static_cast<int>(i);
    }
  }
  m_entries.emplace_back(handle, name);
  return -1;
}

bool CContactDirectory::Remove(const std::wstring& handle) {
  std::lock_guard<std::mutex> hold(m_lock);
  for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
    if (it->first == handle) {
      m_entries.erase(it);
      return true;
    }
  }
  return false;
}

std::wstring CContactDirectory::GetFullName(const std::wstring& handle) const {
  std::lock_guard<std::mutex> hold(m_lock);
  for (const auto& e : m_entries)
    if (e.first == handle) return e.second;
  return {};
}

std::wstring CContactDirectory::FormatNames(const std::wstring& handles) const {
  std::wstring out;
  bool first = true;
  for (const std::wstring& token : Split(handles, L",")) {
    if (token.empty()) continue;
    std::wstring name = GetFullName(token);
    if (name.empty()) name = token;
    if (!first) out += L" | ";
    out += name;
    first = false;
  }
  return out;
}

std::vector<std::pair<std::wstring, std::wstring>> CContactDirectory::Entries() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_entries;
}

}  // namespace tovik
