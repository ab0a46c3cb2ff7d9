// The notification parser: turns Skype's texts into the client's model, follow-up
// queries and messages to the main window.
#include <string_view>

#include "base/Text.h"
#include "skype/SkypeClient.h"
#include "skype/SkypeCodes.h"

namespace tovik {
namespace {

bool IsSpaceChar(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// Splits at the first space; false when there is none.
bool SplitAtSpace(std::wstring_view s, std::wstring_view& head, std::wstring_view& tail) {
  const size_t p = s.find(L' ');
  if (p == std::wstring_view::npos) return false;
  head = s.substr(0, p);
  tail = s.substr(p + 1);
  return true;
}

}  // namespace

void CSkypeClient::ParseNotification(const std::wstring& notification) {
  const std::wstring text = TrimW(notification);
  std::wstring_view keywordView, restView;
  if (text.empty() || !SplitAtSpace(text, keywordView, restView)) return;
  const std::wstring keyword = ToLowerAscii(keywordView);
  const std::wstring rest = TrimW(restView);

  if (keyword == L"users") {
    ParseUsers(rest);
  } else if (keyword == L"user") {
    ParseUser(rest);
  } else if (keyword == L"connstatus") {
    SetUserStatusFrom(rest, true);
  } else if (keyword == L"call") {
    ParseCall(rest);
  } else if (keyword == L"userstatus") {
    SetUserStatusFrom(rest, false);
  } else if (keyword == L"currentuserhandle") {
    m_currentUser = rest;
    Post(WM_SKYPE_READY, 0, 0);
  } else if (keyword == L"error") {
    std::wstring_view code, description;
    if (!SplitAtSpace(rest, code, description)) return;
    if (ParseIntLoose(code) == 589 && m_calls.AnyInProgress()) Post(WM_AUDIO_FAILED, 0, 0);
  } else if (keyword == L"skypeversion") {
    ParseSkypeVersion(rest);
  } else if (keyword == L"chat") {
    std::wstring_view name, tail;
    if (!SplitAtSpace(rest, name, tail)) return;
    if (tail == L"STATUS DIALOG" || tail == L"STATUS LEGACY_DIALOG") {
      m_chatName = std::wstring(name);
      m_chatEvent = true;
    }
  } else if (keyword == L"message" || keyword == L"chatmessage") {
    std::wstring_view idView, tailView;
    if (!SplitAtSpace(rest, idView, tailView)) return;
    const std::wstring id = TrimW(idView);
    const std::wstring tail = TrimW(tailView);
    std::wstring_view property, value;
    if (!SplitAtSpace(tail, property, value)) return;  // an empty property matches nothing
    if (property == L"STATUS" && value == L"RECEIVED") PostCommand(L"get chatmessage " + id + L" chatname");
  } else if (keyword == L"windowstate") {
    const std::wstring word = ToUpperAscii(rest);
    if (word == L"MINIMIZED" || word == L"HIDDEN")
      Post(WM_SKYPE_WINDOW, 20, 0);
    else if (word == L"NORMAL")
      Post(WM_SKYPE_WINDOW, 21, 0);
  } else if (keyword == L"calls") {
    if (EqualsNoCase(rest, m_activeCalls)) return;
    m_activeCalls = rest;
    // Tokens keep the space that followed their comma, as Skype's own list has it.
    for (const std::wstring& token : Split(rest, L",")) {
      if (!token.empty()) PostCommand(L"get call " + token + L" status");
    }
  } else if (keyword == L"audio_in") {
    if (EqualsNoCase(rest, m_audioIn)) return;
    m_audioIn = rest;
    Post(WM_SKYPE_MIC_DEVICE, 0, 0);
  } else if (keyword == L"audio_out") {
    if (EqualsNoCase(rest, m_audioOut)) return;
    m_audioOut = rest;
    Post(WM_SKYPE_SPK_DEVICE, 0, 0);
  }
}

void CSkypeClient::SetUserStatusFrom(const std::wstring& word, bool connection) {
  const int code = UserStatusFromWord(word);
  m_userStatus = code;
  // A logged-out connection delivers nothing more until Skype attaches again; the
  // queue stays enabled.
  if (connection && code == USER_LOGGEDOUT) m_attached = false;
  m_autoReply.SetUserStatus(code);
}

void CSkypeClient::ParseUsers(const std::wstring& rest) {
  if (!m_friendsSearchIssued) return;
  // Walk the list by position: the list may be long, and copying the remainder for
  // each handle would make it quadratic.
  const std::wstring_view list(rest);
  size_t start = 0;
  for (;;) {
    const size_t sep = list.find(L", ", start);
    const std::wstring handle(list.substr(start, sep == std::wstring_view::npos ? std::wstring_view::npos : sep - start));
    // A stray separator gives an empty piece; it names nobody.
    if (!handle.empty()) {
      m_contacts->Add(handle);
      QueryFullName(handle);
    }
    if (sep == std::wstring_view::npos) break;
    start = sep + 2;
    while (start < list.size() && IsSpaceChar(list[start])) ++start;
  }
}

void CSkypeClient::ParseUser(const std::wstring& rest) {
  std::wstring_view handleView, remainderView;
  if (!SplitAtSpace(rest, handleView, remainderView)) return;
  const std::wstring handle(handleView);
  const std::wstring remainder = TrimW(remainderView);
  const bool mayName = handle != m_currentUser && !m_calls.IsPartner(handle);

  std::wstring_view propertyView, valueView;
  if (!SplitAtSpace(remainder, propertyView, valueView)) {
    // "USER alice FULLNAME" with nothing after it: the user has no full name.
    if (ToUpperAscii(remainder) == L"FULLNAME" && mayName) m_contacts->SetFullName(handle, handle);
    return;
  }
  const std::wstring property = ToUpperAscii(propertyView);
  const std::wstring value = TrimW(valueView);
  if (property == L"FULLNAME") {
    if (mayName) m_contacts->SetFullName(handle, value);
  } else if (property == L"BUDDYSTATUS") {
    const int n = ParseIntLoose(value);
    if (n == 1) {
      m_contacts->Remove(handle);
    } else if (n == 2 || n == 3) {
      m_contacts->Add(handle);
      QueryFullName(handle);
    }
  }
}

void CSkypeClient::ParseCall(const std::wstring& rest) {
  std::wstring_view idView, afterId;
  if (!SplitAtSpace(rest, idView, afterId)) return;
  std::wstring_view propertyView, valueView;
  if (!SplitAtSpace(afterId, propertyView, valueView)) return;
  const std::wstring id(idView);
  const std::wstring property = ToUpperAscii(propertyView);
  const std::wstring value(valueView);

  if (property == L"STATUS") {
    const std::wstring word = ToUpperAscii(value);
    const int code = CallStatusFromWord(word);
    if (word == L"ROUTING" || word == L"RINGING") {
      PostCommand(L"get call " + id + L" type");
    } else if (word == L"INPROGRESS") {
      // A newer Skype is polled every second; redirect only on the change into progress.
      if (!(m_newerSkype && m_calls.StatusOf(id) == CALL_INPROGRESS)) {
        RedirectAudio(id);
        PostCommand(L"get call " + id + L" type");
        PostCommand(L"get call " + id + L" target_identity");
        PostCommand(L"get call " + id + L" partner_handle");
      }
    }
    const int slot = m_calls.UpdateStatus(id, code);
    Post(WM_CALL_CHANGED, slot, 2);
    if (m_newerSkype) StartTimer(SkypeTimer::StatusPoll, kStatusPollDelayMs);
  } else if (property == L"PARTNER_HANDLE") {
    m_partners.Set(id, value);
    const int slot = m_calls.SetPartner(id, value);
    m_contacts->Add(value);
    QueryFullName(value);
    Post(WM_CALL_CHANGED, slot, 1);
  } else if (property == L"DTMF") {
    if (TrimW(value).size() == 1) m_calls.FindOrAdd(id);
  } else if (property == L"DURATION") {
    // Started during a call: learn about the call we were not told of.
    if (m_calls.Count() == 0) {
      PostCommand(L"get call " + id + L" partner_handle");
      PostCommand(L"get call " + id + L" type");
      PostCommand(L"get call " + id + L" status");
      PostCommand(L"get call " + id + L" conf_participants_count");
    }
  } else if (property == L"CONF_PARTICIPANTS_COUNT") {
    if (m_calls.Count() != 0 && ParseIntLoose(value) >= 2) {
      PostCommand(L"get call " + id + L" conf_participant 0");
      PostCommand(L"get call " + id + L" conf_participant 1");
    }
  } else if (property == L"TYPE") {
    if (!value.empty())
      m_incoming = EqualsNoCase(value, L"incoming_p2p") || EqualsNoCase(value, L"incoming_pstn");
  }
}

void CSkypeClient::ParseSkypeVersion(const std::wstring& rest) {
  // Tokens between dots, empty ones skipped; the whole text is read, however long.
  std::wstring_view tokens[2];
  int found = 0;
  const std::wstring_view s(rest);
  size_t i = 0;
  while (found < 2 && i < s.size()) {
    while (i < s.size() && s[i] == L'.') ++i;
    const size_t start = i;
    while (i < s.size() && s[i] != L'.') ++i;
    if (i > start) tokens[found++] = s.substr(start, i - start);
  }
  if (found == 0) return;
  const int major = ParseIntLoose(tokens[0]);
  if (major < 6) return;
  const int minor = found > 1 ? ParseIntLoose(tokens[1]) : 0;  // "6" alone reads as 6.0
  if (minor >= 22) m_newerSkype = true;
  if (major > 6) m_newerSkype = true;
}

}  // namespace tovik
