#pragma once
// The one in-memory record of every user setting, with its persistent copy under
// HKEY_CURRENT_USER\software\Velmora\config. Fields carry the names of their values.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "settings/KeyStore.h"

namespace tovik {

// What the defaults and the autostart entry need to know about the machine.
struct ProfileEnvironment {
  std::function<std::wstring()> documentsFolder;  // empty when the shell has none
  std::function<int()> osMajorVersion;
  std::function<std::wstring()> executablePath;
};

class CProfileBase {
 public:
  explicit CProfileBase(IKeyStore& store) : m_store(store) {}
  virtual ~CProfileBase() = default;
  virtual bool Save() = 0;
  virtual bool Load() = 0;
  virtual bool SetDefaults() = 0;

  // Typed primitives: each opens the key, acts and lets go of it again.
  std::uint8_t ReadByteValue(const std::wstring& key, const std::wstring& name, std::uint8_t def);
  std::int32_t ReadDwordValue(const std::wstring& key, const std::wstring& name, std::int32_t def);
  std::wstring ReadStringValue(const std::wstring& key, const std::wstring& name, const std::wstring& def);
  void WriteByteValue(const std::wstring& key, const std::wstring& name, std::uint8_t value);
  void WriteDwordValue(const std::wstring& key, const std::wstring& name, std::int32_t value);
  void WriteStringValue(const std::wstring& key, const std::wstring& name, const std::wstring& value);

 protected:
  IKeyStore& m_store;
  const std::wstring m_root = L"software\\Velmora\\";
};

class CGeneralProfile : public CProfileBase {
 public:
  static constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  static constexpr const wchar_t* kRunValue = L"Velmora";

  CGeneralProfile(IKeyStore& store, ProfileEnvironment env);

  // The process-wide profile; the shell installs it once at start-up (see SetInstance).
  static CGeneralProfile* Instance();
  static void SetInstance(CGeneralProfile* profile);

  bool Save() override;
  bool Load() override;
  bool SetDefaults() override;
  int EnableAutoStart();
  int DisableAutoStart();

  const std::wstring& KeyPath() const { return m_key; }

  // A setting by its value name, for code that reads settings through a narrow port:
  // flags and numbers as numbers, texts as texts; nullopt for an unknown name.
  std::optional<int> Number(const std::wstring& name) const;
  std::optional<std::wstring> Text(const std::wstring& name) const;

  std::uint8_t autostart = 1;
  std::uint8_t notifycov = 1;
  std::uint8_t notifyfinish = 1;
  std::uint8_t notifyhistory = 1;
  std::wstring position;
  std::wstring hispos;
  std::uint8_t starthide = 0;
  std::uint8_t topmost = 0;
  std::uint8_t sticksky = 0;
  std::uint8_t rectype = 1;
  std::int32_t recside = 0;
  std::wstring sfolder;
  std::int32_t amode = 1;
  std::int32_t abitrate = 1;
  std::int32_t asample = 1;
  std::int32_t capf = 1;
  std::uint8_t chatreply = 1;
  std::uint8_t onlinereply = 0;
  std::uint8_t notonlinereply = 1;
  std::wstring replytxt;
  std::wstring defmic;
  std::wstring defspk;
  std::wstring defmicID;
  std::wstring defspkID;

 private:
  // One table drives Load and Save so the order and the kinds cannot drift apart.
  template <typename Visitor>
  void ForEachValue(Visitor&& v);

  ProfileEnvironment m_env;
  std::wstring m_key;
};

}  // namespace tovik
