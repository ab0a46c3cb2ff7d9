// Transport half of the client: start and stop, the attach handshake, the command
// queue's sending thread, the receive path and the ping supervision.
#include "skype/SkypeClient.h"

#include <cstring>
#include <ctime>

#include "base/Text.h"

namespace tovik {
namespace {

CSkypeClient* g_instance = nullptr;

int TimerIndex(SkypeTimer timer) { return static_cast<int>(timer); }

}  // namespace

CSkypeClient::CSkypeClient(Ports ports)
    : m_ports(std::move(ports)),
      m_calls([this](const std::wstring& cmd) { return PostCommand(cmd); },
              m_ports.now ? m_ports.now : std::function<std::int64_t()>([] {
                return static_cast<std::int64_t>(std::time(nullptr));
              })),
      m_ownContacts(m_ports.contacts ? nullptr : new CContactDirectory()),
      m_contacts(m_ports.contacts ? m_ports.contacts : m_ownContacts.get()),
      m_autoReply(m_ports.settings, [this](const std::wstring& chat, const std::wstring& text) {
        SendChatMessage(chat, text);
      }) {}

CSkypeClient::~CSkypeClient() {
  StopTimer(SkypeTimer::Ping);
  StopTimer(SkypeTimer::ActiveCalls);
  StopTimer(SkypeTimer::StatusPoll);
  Stop();
}

CSkypeClient* CSkypeClient::Instance() { return g_instance; }

CSkypeClient* CSkypeClient::CreateInstance(Ports ports) {
  if (!g_instance) {
    if (!ports.contacts) ports.contacts = CContactDirectory::Instance();
    g_instance = new CSkypeClient(std::move(ports));
  }
  return g_instance;
}

void CSkypeClient::DestroyInstance() {
  CSkypeClient* client = g_instance;
  g_instance = nullptr;
  delete client;
  // The directory goes with the client; a later Instance() starts an empty one.
  CContactDirectory::DestroyInstance();
}

int CSkypeClient::Setting(const wchar_t* name, int fallback) const {
  return m_ports.settings.number ? m_ports.settings.number(name) : fallback;
}

void CSkypeClient::Post(unsigned msg, std::intptr_t wParam, std::intptr_t lParam) {
  if (m_post) m_post(msg, wParam, lParam);
}

void CSkypeClient::StartTimer(SkypeTimer timer, unsigned periodMs) {
  if (!m_ports.timers) return;
  if (m_timerRunning[TimerIndex(timer)]) m_ports.timers->StopTimer(timer);
  m_ports.timers->StartTimer(timer, periodMs);
  m_timerRunning[TimerIndex(timer)] = true;
}

void CSkypeClient::StopTimer(SkypeTimer timer) {
  if (!m_timerRunning[TimerIndex(timer)]) return;
  if (m_ports.timers) m_ports.timers->StopTimer(timer);
  m_timerRunning[TimerIndex(timer)] = false;
}

bool CSkypeClient::Start(PostToMainWindow mainWindow) {
  if (m_started) return true;
  if (!m_ports.wire || !m_ports.wire->Open()) return false;
  m_started = true;
  m_post = std::move(mainWindow);
  m_stopRequested = false;
  if (m_ports.sendingThread) m_sender = std::thread([this] { SenderMain(); });
  m_ports.wire->BroadcastDiscover();
  return true;
}

void CSkypeClient::ReleaseSender() {
  {
    std::lock_guard<std::mutex> hold(m_attachLock);
    m_attachSignalled = true;
  }
  m_attachChanged.notify_all();
}

void CSkypeClient::PauseSender(std::chrono::milliseconds duration) {
  if (duration.count() <= 0) return;
  std::unique_lock<std::mutex> hold(m_stopLock);
  m_stopChanged.wait_for(hold, duration, [this] { return m_stopRequested.load(); });
}

void CSkypeClient::Stop() {
  {
    std::lock_guard<std::mutex> hold(m_stopLock);
    m_stopRequested = true;
  }
  m_stopChanged.notify_all();
  m_queue.Clear();
  if (!m_started) return;
  ReleaseSender();  // a thread that never saw an attach is still waiting for one
  m_queue.Wake();
  // The thread ends before the wire closes, so the wire is never used while it goes.
  if (m_sender.joinable()) m_sender.join();
  m_ports.wire->Close();
  m_started = false;
}

bool CSkypeClient::PostCommand(const std::wstring& text) { return m_queue.Push(text); }

std::intptr_t CSkypeClient::SendNow(const std::wstring& text) {
  if (!m_attached) return 0;
  // Sized to the command, so a long chat reply is delivered whole rather than cut.
  std::string utf8 = WideToUtf8(text);
  const size_t zero = utf8.find('\0');
  if (zero != std::string::npos) utf8.resize(zero);
  if (utf8.empty()) return 0;
  const SkypeWindowId skype = m_skypeWindow;
  if (skype == 0) return 0;
  utf8.push_back('\0');
  return m_ports.wire->Deliver(skype, utf8.data(), utf8.size());
}

bool CSkypeClient::DeliverWithRetries(const std::wstring& text) {
  // Each command has its own budget: a budget shared by the whole process would, once
  // spent, make every later refusal (an audio redirection among them) final at once.
  if (SendNow(text) != 0) return true;
  for (int retry = 0; retry < kMaxRetriesPerCommand && !m_stopRequested; ++retry) {
    PauseSender(m_ports.pacing.retryDelay);
    if (m_stopRequested) break;
    if (SendNow(text) != 0) return true;
  }
  return false;
}

void CSkypeClient::SenderMain() {
  {
    std::unique_lock<std::mutex> hold(m_attachLock);
    m_attachChanged.wait(hold, [this] { return m_attachSignalled; });
    m_attachSignalled = false;
  }
  while (!m_stopRequested) {
    DrainQueue();
    if (m_stopRequested) break;
    m_queue.WaitForWork(m_ports.pacing.idlePoll);
  }
}

int CSkypeClient::DrainQueue() {
  int taken = 0;
  std::wstring command;
  while (!m_stopRequested && m_queue.Pop(command)) {
    if (DeliverWithRetries(command)) ++taken;
    PauseSender(m_ports.pacing.betweenCommands);
  }
  return taken;
}

void CSkypeClient::OnAttached() {
  m_missedPongs = 0;
  ReleaseSender();
  m_queue.SetEnabled(true);
  m_attached = true;
  PostCommand(L"GET AUDIO_IN");
  // Give Skype time to answer the input device before asking for the output one.
  if (m_ports.uiSleep)
    m_ports.uiSleep(kAudioQueryGapMs);
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(kAudioQueryGapMs));
  PostCommand(L"GET AUDIO_OUT");
  PostCommand(L"get skypeversion");
  PostCommand(L"get currentuserhandle");
  PostCommand(L"get connstatus");
  PostCommand(L"get userstatus");
  m_friendsSearchIssued = true;
  PostCommand(L"search friends");
}

void CSkypeClient::OnDetached() {
  {
    std::lock_guard<std::mutex> hold(m_attachLock);
    m_attachSignalled = false;
  }
  m_queue.SetEnabled(false);
  m_attached = false;
}

std::intptr_t CSkypeClient::OnCopyData(SkypeWindowId fromWindow, const void* data, std::size_t size) {
  const SkypeWindowId skype = m_skypeWindow;
  if (skype == 0 || fromWindow != skype) return 0;
  std::string_view bytes;
  if (data && size > 0) {
    const char* chars = static_cast<const char*>(data);
    // Skype's data carry a terminating zero; the text ends at the first one.
    const void* zero = std::memchr(chars, 0, size);
    bytes = std::string_view(chars, zero ? static_cast<size_t>(static_cast<const char*>(zero) - chars) : size);
  }
  const std::wstring text = Utf8ToWide(bytes);
  if (ToLowerAscii(text) == L"pong") {
    m_pongSeen = true;
  } else if (!text.empty()) {
    m_autoReply.OnNotification(text);
    ParseNotification(text);
  }
  return 1;
}

void CSkypeClient::OnAttach(SkypeWindowId skypeWindow, std::intptr_t status) {
  switch (status) {
    case kAttachSuccess:
      m_skypeWindow = skypeWindow;
      OnAttached();
      m_pongSeen = true;
      StartTimer(SkypeTimer::Ping, kPingPeriodMs);
      StartTimer(SkypeTimer::ActiveCalls, kActiveCallsPeriodMs);
      break;
    case kAttachRefused:
      OnDetached();
      Post(WM_SKYPE_REFUSED, 0, 0);
      break;
    case kAttachApiAvailable:
      if (!m_attached && m_started) m_ports.wire->BroadcastDiscover();
      break;
    default:
      break;  // waiting for the user's permission, or not available: wait for more
  }
}

void CSkypeClient::OnPingTimer() {
  if (m_pongSeen) {
    m_pongSeen = false;
    PostCommand(L"ping");
    m_missedPongs = 0;
  } else if (m_missedPongs >= kMaxMissedPongs) {
    // Skype has gone quiet: detach silently; a later Discover answer attaches again.
    m_missedPongs = 0;
    StopTimer(SkypeTimer::Ping);
    OnDetached();
  } else {
    if (m_started) m_ports.wire->BroadcastDiscover();
    ++m_missedPongs;
  }
}

void CSkypeClient::OnSearchTimer() { PostCommand(L"SEARCH ACTIVECALLS "); }

void CSkypeClient::OnStatusPollTimer() {
  StopTimer(SkypeTimer::StatusPoll);
  for (int slot = 0; slot < CCallTable::kSlots; ++slot) {
    const int status = m_calls.StatusAt(slot);
    const std::wstring id = m_calls.IdAt(slot);
    const bool polled = status == 1 || status == 2 || status == 3 || status == 5 || status == 6 || status == 7;
    if (polled && !id.empty()) PostCommand(L"get call " + id + L" status");
  }
}

}  // namespace tovik
