#include "skype/ContactDirectory.h"

#include "base/Text.h"

namespace tovik {
namespace {
CContactDirectory* g_directory = nullptr;
}  // namespace

CContactDirectory* CContactDirectory::Instance() {
  if (!g_directory) g_directory = new CContactDirectory();
  return g_directory;
}

void CContactDirectory::DestroyInstance() {
  CContactDirectory* directory = g_directory;
  g_directory = nullptr;
  delete directory;
}

long CContactDirectory::Position(const std::wstring& handle) const {
  const auto it = m_index.find(handle);
  return it == m_index.end() ? -1 : static_cast<long>(it->second);
}

void CContactDirectory::Add(const std::wstring& handle) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (Position(handle) >= 0) return;
  m_index.emplace(handle, m_entries.size());
  m_entries.emplace_back(handle, std::wstring());
}

int CContactDirectory::SetFullName(const std::wstring& handle, const std::wstring& name) {
  std::lock_guard<std::mutex> hold(m_lock);
  const long pos = Position(handle);
  if (pos >= 0) {
    m_entries[static_cast<std::size_t>(pos)].second = name;
    return static_cast<int>(pos);
  }
  m_index.emplace(handle, m_entries.size());
  m_entries.emplace_back(handle, name);
  return -1;
}

bool CContactDirectory::Remove(const std::wstring& handle) {
  std::lock_guard<std::mutex> hold(m_lock);
  const long pos = Position(handle);
  if (pos < 0) return false;
  m_entries.erase(m_entries.begin() + pos);
  m_index.erase(handle);
  for (std::size_t i = static_cast<std::size_t>(pos); i < m_entries.size(); ++i) m_index[m_entries[i].first] = i;
  return true;
}

std::wstring CContactDirectory::GetFullName(const std::wstring& handle) const {
  std::lock_guard<std::mutex> hold(m_lock);
  const long pos = Position(handle);
  return pos < 0 ? std::wstring() : m_entries[static_cast<std::size_t>(pos)].second;
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
