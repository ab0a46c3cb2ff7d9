// A small client of the desktop control interface, to exercise the stand-in without the
// recorder: it discovers, attaches, sends its arguments as commands, prints what comes
// back and, with --listen, takes the two audio connections and counts their bytes.
//
// skype-probe.exe [--run MS] [--gap MS] [--listen] [--dump DIR] [--redirect-again] COMMAND...
//   A COMMAND of the form @sleep:MS pauses the sending for MS milliseconds. With --dump
//   each audio connection's bytes are written to DIR\<side>-<n>.raw.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SimText.h"

namespace {

constexpr UINT_PTR kRunTimer = 1;

std::mutex g_printLock;
void Print(const std::string& tag, const std::string& text) {
  std::string line = tag;
  if (!text.empty()) line += " " + sim::EscapeForLog(text);
  line += "\n";
  std::lock_guard<std::mutex> g(g_printLock);
  fwrite(line.data(), 1, line.size(), stdout);
  fflush(stdout);
}

UINT g_discover = 0, g_attach = 0;
HWND g_own = nullptr;
std::atomic<HWND> g_skype{nullptr};
std::atomic<bool> g_attached{false};
bool g_redirectAgain = false;
std::wstring g_dumpDir;
int g_gapMs = 10;
std::vector<std::string> g_commands;

std::mutex g_queueLock;
std::condition_variable g_queueCv;
std::deque<std::string> g_queue;
bool g_queueStop = false;

void Queue(const std::string& cmd) {
  {
    std::lock_guard<std::mutex> g(g_queueLock);
    g_queue.push_back(cmd);
  }
  g_queueCv.notify_all();
}

// Sends from its own thread, as a client must: the replies arrive at the window meanwhile.
void SenderLoop() {
  while (true) {
    std::string cmd;
    {
      std::unique_lock<std::mutex> lk(g_queueLock);
      g_queueCv.wait(lk, [] { return g_queueStop || !g_queue.empty(); });
      if (g_queueStop) return;
      cmd = g_queue.front();
      g_queue.pop_front();
    }
    if (sim::StartsWithNoCase(cmd, "@sleep:")) {
      Sleep(static_cast<DWORD>(std::stoul(cmd.substr(7))));
      continue;
    }
    COPYDATASTRUCT cds{};
    cds.cbData = static_cast<DWORD>(cmd.size() + 1);
    cds.lpData = const_cast<char*>(cmd.c_str());
    DWORD_PTR result = 0;
    const LRESULT ok = SendMessageTimeoutW(g_skype.load(), WM_COPYDATA, reinterpret_cast<WPARAM>(g_own),
                                           reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 5000, &result);
    Print(ok ? "SENT " + std::to_string(result) : std::string("SEND-TIMEOUT"), cmd);
    Sleep(static_cast<DWORD>(g_gapMs));
  }
}

struct Port {
  const char* name;
  int port;
  SOCKET listener = INVALID_SOCKET;
  std::atomic<unsigned long long> bytes{0};
  std::atomic<int> connections{0};
};
Port g_ports[2] = {{"mic", 38377}, {"spk", 38376}};

void ReadConnection(Port& p, SOCKET s, int number) {
  char buf[4096];
  unsigned long long n = 0;
  int r;
  FILE* dump = nullptr;
  if (!g_dumpDir.empty()) {
    const std::wstring path = g_dumpDir + L"\\" + sim::WideFromUtf8(p.name) + L"-" + std::to_wstring(number) + L".raw";
    dump = _wfopen(path.c_str(), L"wb");
    if (!dump) Print("DUMP-FAILED", sim::Utf8FromWide(path));
  }
  while ((r = recv(s, buf, sizeof buf, 0)) > 0) {
    n += static_cast<unsigned long long>(r);
    p.bytes += static_cast<unsigned long long>(r);
    if (dump) fwrite(buf, 1, static_cast<size_t>(r), dump);
  }
  if (dump) fclose(dump);
  closesocket(s);
  Print("CLOSE", std::string(p.name) + " " + std::to_string(number) + " bytes " + std::to_string(n));
  if (g_redirectAgain && g_attached)
    for (const auto& c : g_commands)
      if (sim::StartsWithNoCase(c, "alter call ")) Queue(c);
}

void AcceptLoop(Port& p) {
  while (true) {
    SOCKET s = accept(p.listener, nullptr, nullptr);
    if (s == INVALID_SOCKET) return;
    const int number = ++p.connections;
    Print("CONNECT", std::string(p.name) + " " + std::to_string(number));
    std::thread(ReadConnection, std::ref(p), s, number).detach();
  }
}

bool Listen(Port& p) {
  p.listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<u_short>(p.port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (p.listener == INVALID_SOCKET || bind(p.listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(p.listener, 64) != 0) {
    Print("LISTEN-FAILED", std::string(p.name) + " " + std::to_string(WSAGetLastError()));
    return false;
  }
  std::thread(AcceptLoop, std::ref(p)).detach();
  return true;
}

void BroadcastDiscover() {
  SendNotifyMessageW(HWND_BROADCAST, g_discover, reinterpret_cast<WPARAM>(g_own), 0);
  Print("DISCOVER", "");
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == g_attach && g_attach != 0) {
    const HWND from = reinterpret_cast<HWND>(wp);
    if (from == g_own) return 1;
    char buf[64];
    snprintf(buf, sizeof buf, "%lu (0x%lX)", static_cast<unsigned long>(lp), static_cast<unsigned long>(lp));
    Print("ATTACH", buf);
    if (lp == 0) {
      g_skype = from;
      if (!g_attached.exchange(true))
        for (const auto& c : g_commands) Queue(c);
    } else if (lp == 0x8001 && !g_attached) {
      BroadcastDiscover();
    }
    return 1;
  }
  if (msg == g_discover && g_discover != 0) return 0;
  switch (msg) {
    case WM_COPYDATA: {
      const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
      std::string text;
      if (cds && cds->lpData) {
        const char* p = static_cast<const char*>(cds->lpData);
        size_t n = 0;
        while (n < cds->cbData && p[n] != '\0') ++n;
        text.assign(p, n);
      }
      Print(reinterpret_cast<HWND>(wp) == g_skype.load() ? "RECV" : "RECV-FOREIGN", text);
      return 1;
    }
    case WM_TIMER:
      if (wp == kRunTimer) DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int runMs = 5000;
  bool listenPorts = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--run" && i + 1 < argc) runMs = _wtoi(argv[++i]);
    else if (a == L"--gap" && i + 1 < argc) g_gapMs = _wtoi(argv[++i]);
    else if (a == L"--listen") listenPorts = true;
    else if (a == L"--redirect-again") g_redirectAgain = true;
    else if (a == L"--dump" && i + 1 < argc) g_dumpDir = argv[++i];
    else g_commands.push_back(sim::Utf8FromWide(a));
  }
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  if (listenPorts)
    for (auto& p : g_ports) Listen(p);

  g_discover = RegisterWindowMessageW(L"SkypeControlAPIDiscover");
  g_attach = RegisterWindowMessageW(L"SkypeControlAPIAttach");
  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TovikSkypeProbe";
  RegisterClassW(&wc);
  g_own = CreateWindowExW(0, wc.lpszClassName, L"Skype probe", WS_OVERLAPPED, CW_USEDEFAULT, CW_USEDEFAULT, 128, 128,
                          nullptr, nullptr, wc.hInstance, nullptr);
  if (!g_own) {
    Print("ERROR", "cannot create the window");
    return 2;
  }
  std::thread sender(SenderLoop);
  SetTimer(g_own, kRunTimer, static_cast<UINT>(runMs), nullptr);
  BroadcastDiscover();
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  {
    std::lock_guard<std::mutex> g(g_queueLock);
    g_queueStop = true;
  }
  g_queueCv.notify_all();
  sender.join();
  for (auto& p : g_ports) {
    if (p.listener == INVALID_SOCKET) continue;
    closesocket(p.listener);
    Print("TOTAL", std::string(p.name) + " " + std::to_string(p.bytes.load()) + " bytes " +
                       std::to_string(p.connections.load()) + " connections");
  }
  return g_attached ? 0 : 1;
}
