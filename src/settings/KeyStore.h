#pragma once
// A per-user hierarchical store of typed values: the registry of the current user on
// Windows, an in-memory tree in tests. Keys are case-insensitive paths ("software\Velmora\config").
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tovik {

enum class ValueType : std::uint32_t { Binary = 3, Dword = 4, String = 1, Other = 0 };

class IKeyStore {
 public:
  virtual ~IKeyStore() = default;
  // Opens the key with full access; false when it does not exist or access is denied.
  virtual bool OpenKey(const std::wstring& key) = 0;
  // Creates the key with any missing parents; true when it exists afterwards.
  virtual bool CreateKey(const std::wstring& key) = 0;
  // Reads a value into a buffer of `capacity` bytes. False when the value is missing or
  // does not fit (the stored type is reported but not checked here).
  virtual bool QueryValue(const std::wstring& key, const std::wstring& name, std::size_t capacity,
                          std::vector<std::uint8_t>& data, ValueType* type = nullptr) = 0;
  // True when the value exists, whatever its size.
  virtual bool ValueExists(const std::wstring& key, const std::wstring& name) = 0;
  virtual bool SetValue(const std::wstring& key, const std::wstring& name, ValueType type,
                        const std::vector<std::uint8_t>& data) = 0;
  virtual bool DeleteValue(const std::wstring& key, const std::wstring& name) = 0;
};

}  // namespace tovik
