// Test helper run under Wine beside the program: finds top-level windows by title and
// reads or drives them the way a user or the shell would.
//   wintool wait <title> <timeout-ms>          exit 0 when a visible window with that title exists
//   wintool text <title> <control-id>          print a control's text
//   wintool wait-text <title> <id> <text> <ms> exit 0 when the control shows that text
//   wintool command <title> <id>               post WM_COMMAND id
//   wintool post <title> <msg> <wparam> <lparam>
//   wintool rect <title>                       print left,top,right,bottom
//   wintool close <title>                      post WM_CLOSE
//   wintool count <title>                      print how many top-level windows carry the title
//   wintool list <title>                       print the texts of those windows' children
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct Search {
  const wchar_t* title;
  HWND found;
  int count;
};

BOOL CALLBACK EnumProc(HWND hwnd, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  wchar_t text[512] = {};
  GetWindowTextW(hwnd, text, 512);
  if (std::wcscmp(text, s->title) == 0) {
    ++s->count;
    if (!s->found && IsWindowVisible(hwnd)) s->found = hwnd;
  }
  return TRUE;
}

Search Find(const wchar_t* title) {
  Search s{title, nullptr, 0};
  EnumWindows(EnumProc, reinterpret_cast<LPARAM>(&s));
  return s;
}

std::wstring ControlText(HWND w, int id) {
  wchar_t buf[1024] = {};
  SendDlgItemMessageW(w, id, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
  return buf;
}

void PrintUtf8(const std::wstring& s) {
  char out[4096] = {};
  WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, out, sizeof out, nullptr, nullptr);
  std::printf("%s\n", out);
  std::fflush(stdout);
}

long Num(const wchar_t* s) { return std::wcstol(s, nullptr, 0); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring verb = argv[1];
  const wchar_t* title = argv[2];
  if (verb == L"wait" && argc >= 4) {
    const DWORD until = GetTickCount() + static_cast<DWORD>(Num(argv[3]));
    do {
      if (Find(title).found) return 0;
      Sleep(100);
    } while (GetTickCount() < until);
    return 1;
  }
  if (verb == L"list") {
    struct Lister {
      static BOOL CALLBACK Top(HWND hwnd, LPARAM lp) {
        wchar_t text[512] = {};
        GetWindowTextW(hwnd, text, 512);
        if (std::wcscmp(text, reinterpret_cast<const wchar_t*>(lp)) == 0) EnumChildWindows(hwnd, Child, 0);
        return TRUE;
      }
      static BOOL CALLBACK Child(HWND hwnd, LPARAM) {
        wchar_t text[2048] = {};
        SendMessageW(hwnd, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text));
        if (text[0]) PrintUtf8(text);
        return TRUE;
      }
    };
    EnumWindows(Lister::Top, reinterpret_cast<LPARAM>(title));
    return 0;
  }
  if (verb == L"count") {
    std::printf("%d\n", Find(title).count);
    return 0;
  }
  if (verb == L"wait-text" && argc >= 6) {
    const DWORD until = GetTickCount() + static_cast<DWORD>(Num(argv[5]));
    do {
      if (HWND w = Find(title).found)
        if (ControlText(w, static_cast<int>(Num(argv[3]))) == argv[4]) return 0;
      Sleep(100);
    } while (GetTickCount() < until);
    if (HWND w = Find(title).found) PrintUtf8(ControlText(w, static_cast<int>(Num(argv[3]))));
    return 1;
  }
  HWND w = Find(title).found;
  if (!w) {
    std::fprintf(stderr, "no window\n");
    return 1;
  }
  if (verb == L"text" && argc >= 4) {
    PrintUtf8(ControlText(w, static_cast<int>(Num(argv[3]))));
    return 0;
  }
  if (verb == L"command" && argc >= 4) return PostMessageW(w, WM_COMMAND, Num(argv[3]), 0) ? 0 : 1;
  if (verb == L"post" && argc >= 6)
    return PostMessageW(w, static_cast<UINT>(Num(argv[3])), Num(argv[4]), Num(argv[5])) ? 0 : 1;
  if (verb == L"close") return PostMessageW(w, WM_CLOSE, 0, 0) ? 0 : 1;
  if (verb == L"rect") {
    RECT r{};
    GetWindowRect(w, &r);
    std::printf("%ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
    return 0;
  }
  return 2;
}
