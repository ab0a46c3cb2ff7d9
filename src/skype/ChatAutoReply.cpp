#include "skype/ChatAutoReply.h"

#include "base/Text.h"
#include "skype/SkypeCodes.h"

namespace tovik {
namespace {

bool MayReply(int status) { return status >= USER_ONLINE && status <= USER_DND; }

}  // namespace

CChatAutoReply::CChatAutoReply(SkypeSettingsReader settings,
                               std::function<void(const std::wstring&, const std::wstring&)> sendChatMessage)
    : m_settings(std::move(settings)), m_send(std::move(sendChatMessage)) {}

int CChatAutoReply::Number(const wchar_t* name, int fallback) const {
  return m_settings.number ? m_settings.number(name) : fallback;
}

void CChatAutoReply::OnNotification(const std::wstring& text) {
  const std::wstring trimmed = TrimW(text);
  const size_t sp = trimmed.find(L' ');
  if (sp == std::wstring::npos) return;
  const std::wstring keyword = ToLowerAscii(std::wstring_view(trimmed).substr(0, sp));
  if (keyword != L"message" && keyword != L"chatmessage") return;
  const std::wstring rest = TrimW(std::wstring_view(trimmed).substr(sp + 1));
  const size_t sp2 = rest.find(L' ');
  if (sp2 == std::wstring::npos) return;
  const std::wstring tail = TrimW(std::wstring_view(rest).substr(sp2 + 1));
  const size_t sp3 = tail.find(L' ');
  if (sp3 == std::wstring::npos) return;  // no property word followed by a value
  if (std::wstring_view(tail).substr(0, sp3) != L"CHATNAME") return;
  OnChatName(TrimW(std::wstring_view(tail).substr(sp3 + 1)));
}

void CChatAutoReply::OnChatName(const std::wstring& chat) {
  for (const Chat& c : m_chats) {
    if (EqualsNoCase(c.name, chat)) {
      TryReply(chat);
      return;
    }
  }
  m_chats.push_back({chat, MayReply(m_userStatus)});
  TryReply(chat);
}

void CChatAutoReply::TryReply(const std::wstring& chat) {
  if (Number(L"chatreply", 1) == 0) return;
  Chat* entry = nullptr;
  for (Chat& c : m_chats) {
    if (c.pending && EqualsNoCase(c.name, chat)) {
      entry = &c;
      break;
    }
  }
  if (!entry) return;
  switch (m_userStatus) {
    case USER_ONLINE:
    case USER_SKYPEME:
      if (Number(L"onlinereply", 0) == 0) return;
      break;
    case USER_AWAY:
    case USER_NA:
    case USER_DND:
      if (Number(L"notonlinereply", 1) == 0) return;
      break;
    default:
      return;
  }
  const std::wstring text = m_settings.text ? m_settings.text(L"replytxt") : std::wstring(kDefaultReply);
  if (m_send) m_send(chat, text);
  entry->pending = false;
}

void CChatAutoReply::SetUserStatus(int code) {
  m_userStatus = code;
  for (Chat& c : m_chats) c.pending = MayReply(code);
}

bool CChatAutoReply::IsPending(const std::wstring& chat) const {
  for (const Chat& c : m_chats)
    if (EqualsNoCase(c.name, chat)) return c.pending;
  return false;
}

}  // namespace tovik
