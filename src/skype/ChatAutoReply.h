#pragma once
// Answers incoming chat messages once per chat while the user is away (or, when so
// configured, online). Learns of a message from the chat name Skype reports for it.
#include <functional>
#include <string>
#include <vector>

#include "skype/SkypePorts.h"

namespace tovik {

class CChatAutoReply {
 public:
  inline static const wchar_t* const kDefaultReply = L"/me is not available for chat.";

  // `sendChatMessage(chat, text)` queues the reply (CSkypeClient::SendChatMessage).
  CChatAutoReply(SkypeSettingsReader settings,
                 std::function<void(const std::wstring& chat, const std::wstring& text)> sendChatMessage);

  // Every text from Skype other than a pong, before the parser sees it.
  void OnNotification(const std::wstring& text);
  void OnChatName(const std::wstring& chat);
  void SetUserStatus(int code);

  int UserStatus() const { return m_userStatus; }
  // Whether the chat (compared without regard to case) may still get a reply; false
  // for an unknown chat.
  bool IsPending(const std::wstring& chat) const;

 private:
  struct Chat {
    std::wstring name;
    bool pending = false;
  };
  void TryReply(const std::wstring& chat);
  int Number(const wchar_t* name, int fallback) const;

  SkypeSettingsReader m_settings;
  std::function<void(const std::wstring&, const std::wstring&)> m_send;
  std::vector<Chat> m_chats;
  int m_userStatus = 0;
};

}  // namespace tovik
