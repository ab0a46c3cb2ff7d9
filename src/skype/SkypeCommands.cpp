// Call control: redirecting a call's audio to the local audio servers, placing calls
// and opening chats.
#include "base/Text.h"
#include "skype/SkypeClient.h"

namespace tovik {
namespace {

bool ListHolds(std::wstring_view list, std::wstring_view id) {
  // Whole entries only: "123 " does not hold "12".
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(L' ', start);
    if (end == std::wstring_view::npos) end = list.size();
    if (list.substr(start, end - start) == id) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::wstring CSkypeClient::RedirectedCalls() const {
  std::lock_guard<std::mutex> hold(m_redirectLock);
  return m_redirected;
}

void CSkypeClient::RedirectAudio(const std::wstring& id) {
  // With "capf" other than 0 the audio comes from the devices, not from Skype.
  if (Setting(L"capf", 0) != 0) return;
  PostCommand(L"alter call " + id + L" set_capture_mic port=\"38377\"");
  PostCommand(L"alter call " + id + L" set_output soundcard=\"default\", port=\"38376\"");
  std::lock_guard<std::mutex> hold(m_redirectLock);
  if (!ListHolds(m_redirected, id)) m_redirected += id + L" ";
}

void CSkypeClient::RedirectAgain() {
  if (!m_calls.AnyInProgress()) return;
  const std::wstring list = TrimW(RedirectedCalls());
  if (list.empty()) return;
  for (const std::wstring& id : Split(list, L" ")) RedirectAudio(id);
}

void CSkypeClient::ResetCallState() {
  {
    std::lock_guard<std::mutex> hold(m_redirectLock);
    m_redirected.clear();
  }
  m_calls.Reset();
  m_incoming = false;
}

void CSkypeClient::QueryFullName(const std::wstring& handle) {
  const std::wstring trimmed = TrimW(handle);
  if (!trimmed.empty()) PostCommand(L"get user " + trimmed + L" fullname");
}

void CSkypeClient::SendChatMessage(const std::wstring& chat, const std::wstring& text) {
  PostCommand(L"chatmessage  " + chat + L" " + text);
}

bool CSkypeClient::CallUser(const std::wstring& handle) { return PostCommand(L"call " + handle); }

bool CSkypeClient::OpenChatWith(const std::wstring& handle) {
  constexpr int kRounds = 3000;
  constexpr unsigned kRoundMs = 3;
  constexpr int kSettlePasses = 40;  // 200 ms in 5 ms steps
  constexpr unsigned kSettleMs = 5;

  if (m_chatOpening || !m_ports.pump) return false;
  m_chatOpening = true;
  PostCommand(L"chat create " + handle);
  m_chatEvent = false;

  IUiPump& pump = *m_ports.pump;
  bool reported = false;
  bool quitSeen = false;
  int quitCode = 0;
  for (int round = 0; round < kRounds && !reported && !quitSeen; ++round) {
    pump.Wait(kRoundMs);
    if (m_chatEvent) {
      reported = true;
      break;
    }
    // The parser runs inside these dispatches and sets the chat event.
    quitSeen = pump.DispatchPending(quitCode);
    if (m_chatEvent) reported = true;
  }
  if (!reported && !quitSeen) {
    m_chatOpening = false;
    return false;
  }
  m_chatEvent = false;
  PostCommand(L"open chat " + m_chatName);
  // Let the chat window come up before the caller goes on; no more dispatching once the
  // program has been asked to end.
  for (int pass = 0; pass < kSettlePasses && !quitSeen; ++pass) {
    quitSeen = pump.DispatchPending(quitCode);
    pump.Wait(kSettleMs);
  }
  // The quit request was taken off the queue by our dispatching; put it back so the
  // application's own loop still ends.
  if (quitSeen) pump.PostQuit(quitCode);
  m_chatOpening = false;
  return true;
}

}  // namespace tovik
