// The Skype stand-in: a hidden top-level window that speaks the desktop control
// interface (Discover/Attach and WM_COPYDATA texts) and plays a scenario against
// whichever client discovers it. Usage: skype-sim.exe <scenario> <logfile>
#include <winsock2.h>
#include <windows.h>
#include <mmsystem.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Audio.h"
#include "Log.h"
#include "Scenario.h"
#include "SimText.h"

namespace sim {
namespace {

constexpr UINT WM_SIM_FINISHED = WM_APP + 1;
constexpr UINT kSendTimeoutMs = 5000;

struct Event {
  enum Kind { Command, Discover, Connected } kind;
  std::string text;
  Side side = Side::Mic;
};

struct OutItem {
  enum Kind { Text, Attach, Announce } kind = Text;
  std::string text;
  DWORD status = 0;
  HWND target = nullptr;
  bool raw = false;      // the bytes of text exactly, no zero added; empty = no data pointer
  bool foreign = false;  // from the second window, which the client must ignore
  std::chrono::steady_clock::time_point due;
  unsigned long long seq = 0;
};

struct Answer {
  std::string pattern;
  std::vector<std::string> replies;
};

class CSim {
 public:
  CSim(CLog& log) : log_(log), audio_(log, [this](Side s) { AddEvent({Event::Connected, {}, s}); }) {}

  bool CreateWire();
  int Run(const Scenario& sc);
  LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

 private:
  // -- events the scenario waits for --------------------------------------------------
  void AddEvent(Event e) {
    {
      std::lock_guard<std::mutex> g(eventLock_);
      events_.push_back(std::move(e));
    }
    eventCv_.notify_all();
  }
  bool Matches(const Event& e, Event::Kind kind, const std::string& pattern, Side side) const {
    if (e.kind != kind) return false;
    if (kind == Event::Connected) return e.side == side;
    return kind == Event::Discover || GlobMatch(pattern, e.text);
  }
  // Waits for a matching event after `cursor`; on success the cursor moves past it.
  bool WaitFor(Event::Kind kind, const std::string& pattern, Side side, size_t& cursor, long long ms) {
    std::unique_lock<std::mutex> lk(eventLock_);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (true) {
      for (size_t i = cursor; i < events_.size(); ++i) {
        if (Matches(events_[i], kind, pattern, side)) {
          cursor = i + 1;
          return true;
        }
      }
      const size_t seen = events_.size();
      if (!eventCv_.wait_until(lk, until, [&] { return events_.size() != seen; })) return false;
    }
  }
  size_t CountSince(size_t from, const std::string& pattern) {
    std::lock_guard<std::mutex> g(eventLock_);
    size_t n = 0;
    for (size_t i = from; i < events_.size(); ++i) n += Matches(events_[i], Event::Command, pattern, Side::Mic);
    return n;
  }
  size_t EventCount() {
    std::lock_guard<std::mutex> g(eventLock_);
    return events_.size();
  }

  // -- outgoing texts and attach answers, delivered in order by one thread -------------
  unsigned long long Enqueue(OutItem item) {
    std::lock_guard<std::mutex> g(outLock_);
    item.seq = ++outSeq_;
    if (item.due.time_since_epoch().count() == 0) item.due = std::chrono::steady_clock::now();
    out_.push_back(std::move(item));
    outCv_.notify_all();
    return outSeq_;
  }
  void WaitDelivered(unsigned long long seq) {
    std::unique_lock<std::mutex> lk(outLock_);
    outCv_.wait(lk, [&] { return doneSeq_ >= seq; });
  }
  void SenderLoop();
  void Deliver(const OutItem& item);

  // -- window side ----------------------------------------------------------------------
  LRESULT OnCommand(HWND from, const COPYDATASTRUCT* cds);
  HWND Client() {
    std::lock_guard<std::mutex> g(clientLock_);
    return client_;
  }

  // -- scenario ---------------------------------------------------------------------------
  void Play(const Scenario& sc);
  // A step that cannot run is a failure, but only the failure is worth a log line.
  bool Require(const Step& s, bool ok, const std::string& what) {
    if (!ok) Check(s, false, what);
    return ok;
  }
  void Check(const Step& s, bool ok, const std::string& what) {
    const std::string text = "line " + std::to_string(s.line) + ": " + what;
    log_.Line(ok ? "OK" : "FAIL", text);
    if (!ok) {
      ++failures_;
      fprintf(stderr, "skype-sim: FAIL %s\n", text.c_str());
    }
  }

  CLog& log_;
  CAudio audio_;
  HWND hwnd_ = nullptr;
  HWND foreignHwnd_ = nullptr;
  UINT discoverMsg_ = 0, attachMsg_ = 0;

  std::mutex clientLock_;
  HWND client_ = nullptr;

  std::mutex eventLock_;
  std::condition_variable eventCv_;
  std::vector<Event> events_;

  std::mutex outLock_;
  std::condition_variable outCv_;
  std::deque<OutItem> out_;
  unsigned long long outSeq_ = 0, doneSeq_ = 0;
  bool outStop_ = false;

  // What the window procedure does with commands; the scenario thread changes it.
  std::mutex behaviourLock_;
  std::vector<Answer> answers_;
  bool pongOn_ = true;
  std::string pongText_ = "PONG";
  long long attachStatus_ = 0, attachDelayMs_ = 0;
  long long refuseLeft_ = 0, hangNextMs_ = 0;

  int failures_ = 0;
};

CSim* g_sim = nullptr;

LRESULT CALLBACK StaticWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (g_sim) return g_sim->WindowProc(hwnd, msg, wp, lp);
  return DefWindowProcW(hwnd, msg, wp, lp);
}

std::string HexHandle(HWND h) {
  char buf[32];
  snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h)));
  return buf;
}

bool CSim::CreateWire() {
  discoverMsg_ = RegisterWindowMessageW(L"SkypeControlAPIDiscover");
  attachMsg_ = RegisterWindowMessageW(L"SkypeControlAPIAttach");
  if (!discoverMsg_ || !attachMsg_) return false;
  WNDCLASSW wc{};
  wc.lpfnWndProc = StaticWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TovikSkypeStandIn";
  if (!RegisterClassW(&wc)) return false;
  // A top-level window, never shown: broadcasts reach only top-level windows.
  hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"Skype stand-in", WS_OVERLAPPED, CW_USEDEFAULT, CW_USEDEFAULT,
                          128, 128, nullptr, nullptr, wc.hInstance, nullptr);
  // A second window that sends texts the client must not take for Skype's.
  foreignHwnd_ = CreateWindowExW(0, wc.lpszClassName, L"Skype stand-in (foreign)", WS_OVERLAPPED, CW_USEDEFAULT,
                                 CW_USEDEFAULT, 128, 128, nullptr, nullptr, wc.hInstance, nullptr);
  return hwnd_ != nullptr && foreignHwnd_ != nullptr;
}

LRESULT CSim::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  // The foreign window only sends; a Discover it hears must not be answered twice.
  if (hwnd_ != nullptr && hwnd != hwnd_) return DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == discoverMsg_ && discoverMsg_ != 0) {
    const HWND from = reinterpret_cast<HWND>(wp);
    if (from == hwnd_ || from == nullptr) return 0;
    {
      std::lock_guard<std::mutex> g(clientLock_);
      client_ = from;
    }
    long long status, delay;
    {
      std::lock_guard<std::mutex> g(behaviourLock_);
      status = attachStatus_;
      delay = attachDelayMs_;
    }
    log_.Line("DISCOVER", HexHandle(from));
    AddEvent({Event::Discover, {}, Side::Mic});
    if (status >= 0) {
      OutItem item;
      item.kind = OutItem::Attach;
      item.status = static_cast<DWORD>(status);
      item.target = from;
      item.due = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay);
      Enqueue(std::move(item));
    }
    return 1;
  }
  if (msg == attachMsg_ && attachMsg_ != 0) {
    if (reinterpret_cast<HWND>(wp) != hwnd_)
      log_.Line("ATTACH-SEEN", HexHandle(reinterpret_cast<HWND>(wp)) + " status " + std::to_string(lp));
    return 1;
  }
  switch (msg) {
    case WM_COPYDATA:
      return OnCommand(reinterpret_cast<HWND>(wp), reinterpret_cast<const COPYDATASTRUCT*>(lp));
    case WM_SIM_FINISHED:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

LRESULT CSim::OnCommand(HWND from, const COPYDATASTRUCT* cds) {
  std::string text;
  if (cds && cds->lpData && cds->cbData > 0) {
    const char* p = static_cast<const char*>(cds->lpData);
    size_t n = 0;
    while (n < cds->cbData && p[n] != '\0') ++n;  // the text ends at its first zero byte
    text.assign(p, n);
  }
  long long hang;
  bool refuse;
  {
    std::lock_guard<std::mutex> g(behaviourLock_);
    hang = hangNextMs_;
    hangNextMs_ = 0;
    refuse = refuseLeft_ > 0;
    if (refuse) --refuseLeft_;
  }
  if (hang > 0) {
    log_.Line("HANG", std::to_string(hang) + " ms before taking: " + text);
    Sleep(static_cast<DWORD>(hang));
  }
  if (refuse) {
    log_.Line("REFUSED", text);
    return 0;
  }
  log_.Line("CMD", text);

  std::vector<std::string> replies;
  {
    std::lock_guard<std::mutex> g(behaviourLock_);
    std::vector<std::string> caps;
    bool answered = false;
    for (const auto& a : answers_) {
      if (GlobMatch(a.pattern, text, &caps)) {
        for (const auto& r : a.replies) replies.push_back(FillCaptures(r, caps));
        answered = true;
        break;
      }
    }
    if (!answered && pongOn_ && EqualsNoCase(text, "ping")) replies.push_back(pongText_);
  }
  AddEvent({Event::Command, text, Side::Mic});
  HWND client = Client();
  const HWND target = (from && IsWindow(from)) ? from : client;
  for (auto& r : replies) {
    OutItem item;
    item.text = std::move(r);
    item.target = target;
    Enqueue(std::move(item));
  }
  if (auto redirection = ParseRedirection(text)) audio_.OnRedirection(*redirection);
  return 1;
}

void CSim::SenderLoop() {
  while (true) {
    OutItem item;
    {
      std::unique_lock<std::mutex> lk(outLock_);
      outCv_.wait(lk, [&] { return outStop_ || !out_.empty(); });
      // At the end the window is gone; what is still queued would name a dead sender.
      if (outStop_) return;
      const auto due = out_.front().due;
      if (outCv_.wait_until(lk, due, [&] { return outStop_; })) return;
      item = std::move(out_.front());
      out_.pop_front();
    }
    Deliver(item);
    {
      std::lock_guard<std::mutex> g(outLock_);
      doneSeq_ = item.seq;
    }
    outCv_.notify_all();
  }
}

void CSim::Deliver(const OutItem& item) {
  DWORD_PTR result = 0;
  if (item.kind == OutItem::Announce) {
    const BOOL ok = SendNotifyMessageW(HWND_BROADCAST, attachMsg_, reinterpret_cast<WPARAM>(hwnd_), 0x8001);
    log_.Line("ANNOUNCE", ok ? "0x8001" : "0x8001 failed");
    return;
  }
  if (!item.target || !IsWindow(item.target)) {
    log_.Line(item.kind == OutItem::Attach ? "ATTACH-FAILED" : "SEND-FAILED", "no client window: " + item.text);
    return;
  }
  // Each line is written before the message goes out: the client answers inside the
  // call, and its commands must not appear in the log ahead of what caused them.
  if (item.kind == OutItem::Attach) {
    char buf[64];
    snprintf(buf, sizeof buf, "%lu (0x%lX)", static_cast<unsigned long>(item.status), static_cast<unsigned long>(item.status));
    log_.Line("ATTACH", buf);
    const LRESULT ok = SendMessageTimeoutW(item.target, attachMsg_, reinterpret_cast<WPARAM>(hwnd_),
                                           static_cast<LPARAM>(item.status), SMTO_NORMAL, kSendTimeoutMs, &result);
    if (!ok) log_.Line("ATTACH-FAILED", buf);
    return;
  }
  COPYDATASTRUCT cds{};
  cds.dwData = 0;
  if (item.raw) {
    cds.cbData = static_cast<DWORD>(item.text.size());
    cds.lpData = item.text.empty() ? nullptr : const_cast<char*>(item.text.data());
  } else {
    cds.cbData = static_cast<DWORD>(item.text.size() + 1);  // the zero byte goes too
    cds.lpData = const_cast<char*>(item.text.c_str());
  }
  const HWND from = item.foreign ? foreignHwnd_ : hwnd_;
  std::string what = item.text;
  if (item.raw) what = std::to_string(item.text.size()) + " raw bytes: " + item.text;
  log_.Line(item.foreign ? "SEND-FOREIGN" : "SEND", what);
  const LRESULT ok = SendMessageTimeoutW(item.target, WM_COPYDATA, reinterpret_cast<WPARAM>(from),
                                         reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, kSendTimeoutMs, &result);
  if (!ok) log_.Line(item.foreign ? "SEND-FAILED-FOREIGN" : "SEND-FAILED", "timed out or window gone: " + what);
  else if (!result) log_.Line(item.foreign ? "SEND-UNTAKEN-FOREIGN" : "SEND-UNTAKEN", what);
}

void CSim::Play(const Scenario& sc) {
  size_t cmdCursor = 0, discoverCursor = 0, connectCursor[2] = {0, 0};
  size_t mark = 0;
  for (const Step& s : sc.steps) {
    switch (s.op) {
      case Op::Attach: {
        std::lock_guard<std::mutex> g(behaviourLock_);
        attachStatus_ = s.a;
        attachDelayMs_ = s.b;
        break;
      }
      case Op::AttachNow: {
        HWND client = Client();
        if (!Require(s, client != nullptr, "attach-now needs a client that has sent Discover")) break;
        OutItem item;
        item.kind = OutItem::Attach;
        item.status = static_cast<DWORD>(s.a);
        item.target = client;
        WaitDelivered(Enqueue(std::move(item)));
        break;
      }
      case Op::Announce: {
        OutItem item;
        item.kind = OutItem::Announce;
        WaitDelivered(Enqueue(std::move(item)));
        break;
      }
      case Op::WaitDiscover:
        Check(s, WaitFor(Event::Discover, {}, Side::Mic, discoverCursor, s.a),
              "Discover within " + std::to_string(s.a) + " ms");
        break;
      case Op::Answer:
      case Op::Unanswer: {
        std::lock_guard<std::mutex> g(behaviourLock_);
        std::erase_if(answers_, [&](const Answer& a) { return EqualsNoCase(a.pattern, s.text); });
        if (s.op == Op::Answer) answers_.push_back({s.text, s.replies});
        break;
      }
      case Op::Pong: {
        std::lock_guard<std::mutex> g(behaviourLock_);
        if (EqualsNoCase(s.text, "off")) {
          pongOn_ = false;
        } else {
          pongOn_ = true;
          if (!EqualsNoCase(s.text, "on")) pongText_ = s.text;
        }
        break;
      }
      case Op::RefuseCommands: {
        std::lock_guard<std::mutex> g(behaviourLock_);
        refuseLeft_ = s.a;
        break;
      }
      case Op::Hang: {
        std::lock_guard<std::mutex> g(behaviourLock_);
        hangNextMs_ = s.a;
        break;
      }
      case Op::Sleep:
        std::this_thread::sleep_for(std::chrono::milliseconds(s.a));
        break;
      case Op::Send: {
        HWND client = Client();
        if (!Require(s, client != nullptr, "send needs a client that has sent Discover")) break;
        // A call that ends stops its audio first, so every byte sent precedes the
        // notice; the connections close only after the client has taken it.
        auto ended = EndedCallId(s.text);
        if (ended) audio_.StopCall(*ended);
        OutItem item;
        item.text = s.text;
        item.target = client;
        WaitDelivered(Enqueue(std::move(item)));
        if (ended) audio_.CloseCall(*ended);
        break;
      }
      case Op::SendForeign:
      case Op::SendHex:
      case Op::SendRepeat: {
        HWND client = Client();
        if (!Require(s, client != nullptr, "sending needs a client that has sent Discover")) break;
        OutItem item;
        item.target = client;
        item.foreign = s.op == Op::SendForeign;
        item.raw = s.op == Op::SendHex;
        if (s.op == Op::SendRepeat) {
          item.text.reserve(static_cast<size_t>(s.a));
          while (item.text.size() < static_cast<size_t>(s.a)) item.text += s.text;
          item.text.resize(static_cast<size_t>(s.a));
        } else {
          item.text = s.text;
        }
        WaitDelivered(Enqueue(std::move(item)));
        break;
      }
      case Op::WaitCommand:
        Check(s, WaitFor(Event::Command, s.text, Side::Mic, cmdCursor, s.a),
              "command \"" + s.text + "\" within " + std::to_string(s.a) + " ms");
        break;
      case Op::ExpectCommand:
      case Op::ExpectNoCommand: {
        const size_t n = CountSince(mark, s.text);
        if (s.op == Op::ExpectCommand)
          Check(s, n > 0, "command \"" + s.text + "\" received");
        else
          Check(s, n == 0, "command \"" + s.text + "\" not received (got " + std::to_string(n) + ")");
        break;
      }
      case Op::ExpectCount: {
        const size_t n = CountSince(mark, s.text);
        Check(s, static_cast<long long>(n) >= s.a && static_cast<long long>(n) <= s.b,
              "command \"" + s.text + "\" " + std::to_string(n) + " times, expected " + std::to_string(s.a) +
                  ".." + std::to_string(s.b));
        break;
      }
      case Op::ExpectQuiet: {
        const size_t from = EventCount();
        std::this_thread::sleep_for(std::chrono::milliseconds(s.a));
        const size_t n = CountSince(from, s.text);
        Check(s, n == 0, "no command \"" + s.text + "\" for " + std::to_string(s.a) + " ms (got " + std::to_string(n) + ")");
        break;
      }
      case Op::Mark:
        mark = EventCount();
        break;
      case Op::AudioTone:
        audio_.Configure([&](AudioConfig& c) { c.side[static_cast<int>(s.side)].source = CPcmSource::Tone(s.x, s.y); });
        break;
      case Op::AudioWav: {
        std::vector<uint8_t> bytes;
        std::string error = "cannot read the file";
        FILE* f = _wfopen(WideFromUtf8(s.text).c_str(), L"rb");
        if (f) {
          char buf[65536];
          size_t n;
          while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
          fclose(f);
        }
        std::vector<int16_t> samples;
        const bool ok = f && ParseWave(bytes, samples, error);
        Require(s, ok, "WAVE file " + s.text + ": " + error);
        if (ok)
          audio_.Configure([&](AudioConfig& c) { c.side[static_cast<int>(s.side)].source = CPcmSource::Samples(samples); });
        break;
      }
      case Op::AudioSilence:
        audio_.Configure([&](AudioConfig& c) { c.side[static_cast<int>(s.side)].source = CPcmSource::Silence(); });
        break;
      case Op::AudioDelay:
        audio_.Configure([&](AudioConfig& c) { c.side[static_cast<int>(s.side)].delayMs = s.a; });
        break;
      case Op::AudioEnable:
        audio_.Configure([&](AudioConfig& c) { c.side[static_cast<int>(s.side)].enabled = s.a != 0; });
        break;
      case Op::AudioDrop:
        audio_.Configure([&](AudioConfig& c) {
          c.side[static_cast<int>(s.side)].dropMs = s.a;
          c.side[static_cast<int>(s.side)].dropReset = s.b != 0;
        });
        break;
      case Op::AudioSegment:
        audio_.Configure([&](AudioConfig& c) { c.segments = s.sizes; });
        break;
      case Op::AudioJitter:
        audio_.Configure([&](AudioConfig& c) { c.jitterMs = s.a; });
        break;
      case Op::WaitConnected: {
        const int k = static_cast<int>(s.side);
        Check(s, WaitFor(Event::Connected, {}, s.side, connectCursor[k], s.a),
              std::string(SideName(s.side)) + " connection within " + std::to_string(s.a) + " ms");
        break;
      }
      case Op::Exit:
        return;
    }
  }
}

int CSim::Run(const Scenario& sc) {
  g_sim = this;
  if (!CreateWire()) {
    log_.Line("ERROR", "cannot create the window (error " + std::to_string(GetLastError()) + ")");
    return 2;
  }
  log_.Line("READY", HexHandle(hwnd_));
  std::thread sender([this] { SenderLoop(); });
  std::thread player([&] {
    Play(sc);
    audio_.StopAll();
    PostMessageW(hwnd_, WM_SIM_FINISHED, 0, 0);
  });
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  player.join();
  {
    std::lock_guard<std::mutex> g(outLock_);
    outStop_ = true;
  }
  outCv_.notify_all();
  sender.join();
  g_sim = nullptr;
  log_.Line("RESULT", failures_ == 0 ? "PASS" : "FAIL " + std::to_string(failures_));
  return failures_ == 0 ? 0 : 1;
}

}  // namespace
}  // namespace sim

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: skype-sim.exe <scenario> <logfile>\n");
    return 2;
  }
  std::string text;
  if (FILE* f = _wfopen(argv[1], L"rb")) {
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    fclose(f);
  } else {
    fprintf(stderr, "skype-sim: cannot read the scenario\n");
    return 2;
  }
  sim::CLog log;
  if (!log.Open(argv[2])) {
    fprintf(stderr, "skype-sim: cannot create the log file\n");
    return 2;
  }
  std::string error;
  auto scenario = sim::ParseScenario(text, error);
  if (!scenario) {
    log.Line("ERROR", error);
    fprintf(stderr, "skype-sim: %s\n", error.c_str());
    return 2;
  }
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    log.Line("ERROR", "WSAStartup failed");
    return 2;
  }
  timeBeginPeriod(1);  // 10 ms pacing needs a finer timer than the default tick
  int rc;
  {
    sim::CSim sim(log);  // gone, with its sockets and threads, before Winsock is cleaned up
    rc = sim.Run(*scenario);
  }
  timeEndPeriod(1);
  WSACleanup();
  return rc;
}
