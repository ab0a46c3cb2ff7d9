#include "base/SystemError.h"

#include <system_error>

#include "base/Text.h"

#ifdef _WIN32
// The two calls the core needs from the system, declared here so the core stays free of
// <windows.h> (as LastError.cpp does).
extern "C" __declspec(dllimport) unsigned long __stdcall FormatMessageW(unsigned long flags, const void* source,
                                                                       unsigned long id, unsigned long language,
                                                                       wchar_t* buffer, unsigned long size, void* args);
extern "C" __declspec(dllimport) void* __stdcall LocalFree(void* mem);
#endif

namespace tovik {

std::wstring SystemErrorText(std::uint32_t code) {
#ifdef _WIN32
  constexpr unsigned long kAllocate = 0x100, kIgnoreInserts = 0x200, kFromSystem = 0x1000;
  wchar_t* text = nullptr;
  const unsigned long n = FormatMessageW(kAllocate | kFromSystem | kIgnoreInserts, nullptr, code, 0,
                                         reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring out;
  if (n && text) out.assign(text, n);
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' ')) out.pop_back();
  if (out.empty()) out = L"Error " + std::to_wstring(code);
  return out;
#else
  return Utf8ToWide(std::generic_category().message(static_cast<int>(code)));
#endif
}

}  // namespace tovik
