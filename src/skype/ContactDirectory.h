#pragma once
// The Skype users we have heard of (contacts and call partners) with their full names,
// so the history can show partners by name. Handles are compared exactly.
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tovik {

class CContactDirectory {
 public:
  // The process-wide directory, created empty on first use; the client of the program
  // and the history window share it. DestroyInstance drops it (the client's end).
  static CContactDirectory* Instance();
  static void DestroyInstance();

  void Add(const std::wstring& handle);
  // Position of the updated entry, or -1 when the handle was new and has been appended.
  int SetFullName(const std::wstring& handle, const std::wstring& name);
  bool Remove(const std::wstring& handle);
  std::wstring GetFullName(const std::wstring& handle) const;
  // "alice,bob" -> "Alice Smith | bob": each handle's full name, or the handle itself.
  std::wstring FormatNames(const std::wstring& handles) const;
  std::vector<std::pair<std::wstring, std::wstring>> Entries() const;

 private:
  // Position of an entry by handle, needed once a contact list runs into thousands.
  long Position(const std::wstring& handle) const;

  mutable std::mutex m_lock;
  std::vector<std::pair<std::wstring, std::wstring>> m_entries;  // (handle, full name)
  std::unordered_map<std::wstring, std::size_t> m_index;
};

}  // namespace tovik
