#pragma once
// The one object through which the program talks to Skype's desktop control interface:
// attach handshake and ping supervision, the outgoing command queue with its sending
// thread, the receive path, the notification parser with its model of Skype (user
// status, calls, partners, devices) and the call-control commands.
//
// Everything runs on the UI thread except the sending thread (Pop and SendNow) and
// RedirectAgain, which the audio receive threads call. The shell supplies the ports and
// feeds window messages and timer ticks into the entry points below.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/Messages.h"
#include "skype/CallTable.h"
#include "skype/ChatAutoReply.h"
#include "skype/CommandQueue.h"
#include "skype/ContactDirectory.h"
#include "skype/SkypePorts.h"

namespace tovik {

class CSkypeClient {
 public:
  // Attach statuses Skype reports with the attach message.
  static constexpr std::intptr_t kAttachSuccess = 0;
  static constexpr std::intptr_t kAttachPendingAuthorization = 1;
  static constexpr std::intptr_t kAttachRefused = 2;
  static constexpr std::intptr_t kAttachNotAvailable = 3;
  static constexpr std::intptr_t kAttachApiAvailable = 0x8001;

  static constexpr unsigned kPingPeriodMs = 30000;
  static constexpr unsigned kActiveCallsPeriodMs = 1000;
  static constexpr unsigned kStatusPollDelayMs = 1000;
  static constexpr unsigned kAudioQueryGapMs = 100;
  static constexpr int kMaxRetriesPerCommand = 5;
  static constexpr int kMaxMissedPongs = 3;

  struct Ports {
    ISkypeWire* wire = nullptr;      // required; outlives the client
    ISkypeTimers* timers = nullptr;  // required; outlives the client
    IUiPump* pump = nullptr;         // needed by OpenChatWith only
    // The directory to fill; null gives the client one of its own. CreateInstance
    // passes the process-wide one.
    CContactDirectory* contacts = nullptr;
    SkypeSettingsReader settings;    // missing readers give the defaults
    // Pauses the UI thread (the gap between the two audio-device queries); missing, the
    // thread really sleeps.
    std::function<void(unsigned ms)> uiSleep;
    // Seconds since 1970 UTC, for the call table's start times; missing, the C clock.
    std::function<std::int64_t()> now;
    SkypeSendPacing pacing;
    // False: Start runs no sending thread and the owner delivers with DrainQueue
    // (tests step delivery this way).
    bool sendingThread = true;
  };

  explicit CSkypeClient(Ports ports);
  ~CSkypeClient();
  CSkypeClient(const CSkypeClient&) = delete;
  CSkypeClient& operator=(const CSkypeClient&) = delete;

  // The process-wide client. CreateInstance replaces nothing: it returns the existing
  // client when there is one. DestroyInstance stops and deletes it.
  static CSkypeClient* Instance();
  static CSkypeClient* CreateInstance(Ports ports);
  static void DestroyInstance();

  // --- transport ------------------------------------------------------------------
  // Opens the wire, starts the sending thread and broadcasts Discover. True when
  // started, also when already started (nothing new is created then).
  bool Start(PostToMainWindow mainWindow);
  // Ends the sending thread and closes the wire.
  void Stop();
  // Queues one complete command; false when not attached (queue disabled) or empty.
  bool PostCommand(const std::wstring& text);
  // Delivers one command now (sending thread). Returns Skype's result, 0 = not taken.
  std::intptr_t SendNow(const std::wstring& text);
  // One command through SendNow with up to five retries of its own. True when taken.
  bool DeliverWithRetries(const std::wstring& text);
  // Delivers queued commands, oldest first, until the queue hands out no more or Stop
  // is requested; returns how many Skype took. The sending thread's work.
  int DrainQueue();

  void OnAttached();
  void OnDetached();

  // Entry points for the shell's window procedure and timers.
  // WM_COPYDATA: returns 1 when the text came from the attached Skype window, else 0.
  std::intptr_t OnCopyData(SkypeWindowId fromWindow, const void* data, std::size_t size);
  // The attach message: wParam is Skype's API window, lParam the status.
  void OnAttach(SkypeWindowId skypeWindow, std::intptr_t status);
  void OnPingTimer();
  void OnSearchTimer();
  void OnStatusPollTimer();

  // --- parser -------------------------------------------------------------------
  void ParseNotification(const std::wstring& text);

  // --- call control -------------------------------------------------------------
  void RedirectAudio(const std::wstring& id);
  // Callable from any thread (the audio receive threads use it when a stream drops).
  void RedirectAgain();
  void ResetCallState();
  bool CallUser(const std::wstring& handle);
  bool OpenChatWith(const std::wstring& handle);
  void SendChatMessage(const std::wstring& chat, const std::wstring& text);
  void QueryFullName(const std::wstring& handle);

  // --- model, read by the main window, history window and audio side ------------
  bool IsStarted() const { return m_started; }
  bool IsAttached() const { return m_attached.load(); }
  SkypeWindowId SkypeWindow() const { return m_skypeWindow.load(); }
  int UserStatus() const { return m_userStatus; }
  const std::wstring& CurrentUserHandle() const { return m_currentUser; }
  bool IsNewerSkype() const { return m_newerSkype; }
  bool FriendsSearchIssued() const { return m_friendsSearchIssued; }
  const std::wstring& AudioInDevice() const { return m_audioIn; }
  const std::wstring& AudioOutDevice() const { return m_audioOut; }
  const std::wstring& ChatName() const { return m_chatName; }
  const std::wstring& ActiveCallsList() const { return m_activeCalls; }
  bool IsIncoming() const { return m_incoming; }
  std::wstring RedirectedCalls() const;
  bool PongSeen() const { return m_pongSeen.load(); }
  int MissedPongs() const { return m_missedPongs; }

  CCallTable& Calls() { return m_calls; }
  const CCallTable& Calls() const { return m_calls; }
  CCallPartnerMap& Partners() { return m_partners; }
  CContactDirectory& Contacts() { return *m_contacts; }
  CChatAutoReply& AutoReply() { return m_autoReply; }
  CCommandQueue& Queue() { return m_queue; }

 private:
  void Post(unsigned msg, std::intptr_t wParam, std::intptr_t lParam);
  void StartTimer(SkypeTimer timer, unsigned periodMs);
  void StopTimer(SkypeTimer timer);
  void SenderMain();
  void ReleaseSender();
  // Sleeps on the sending thread; Stop cuts the sleep short.
  void PauseSender(std::chrono::milliseconds duration);
  int Setting(const wchar_t* name, int fallback) const;

  void ParseUsers(const std::wstring& rest);
  void ParseUser(const std::wstring& rest);
  void ParseCall(const std::wstring& rest);
  void ParseSkypeVersion(const std::wstring& rest);
  void SetUserStatusFrom(const std::wstring& word, bool connection);

  Ports m_ports;
  PostToMainWindow m_post;

  CCommandQueue m_queue;
  CCallTable m_calls;
  CCallPartnerMap m_partners;
  std::unique_ptr<CContactDirectory> m_ownContacts;
  CContactDirectory* m_contacts;
  CChatAutoReply m_autoReply;

  // Transport state. The sending thread reads the atomics.
  bool m_started = false;
  std::atomic<bool> m_attached{false};
  std::atomic<bool> m_stopRequested{false};
  std::atomic<bool> m_pongSeen{false};
  std::atomic<SkypeWindowId> m_skypeWindow{0};
  int m_missedPongs = 0;
  bool m_timerRunning[3] = {false, false, false};

  // The attached event: releases the sending thread at the first attach (or at Stop).
  std::mutex m_attachLock;
  std::condition_variable m_attachChanged;
  bool m_attachSignalled = false;
  std::thread m_sender;
  std::mutex m_stopLock;
  std::condition_variable m_stopChanged;

  // Parser model (UI thread).
  int m_userStatus = 0;
  std::wstring m_currentUser;
  bool m_newerSkype = false;
  bool m_friendsSearchIssued = false;
  std::wstring m_activeCalls;
  std::wstring m_audioIn;
  std::wstring m_audioOut;
  std::wstring m_chatName;
  bool m_incoming = true;

  // Call control. The redirected-calls list is also read and written by the audio
  // receive threads, hence its lock.
  mutable std::mutex m_redirectLock;
  std::wstring m_redirected;  // ids, each followed by one space
  bool m_chatEvent = false;
  bool m_chatOpening = false;
};

}  // namespace tovik
