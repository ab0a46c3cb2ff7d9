#include "base/Text.h"

namespace tovik {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point starting at `i`; advances `i` past the maximal subpart.
char32_t DecodeOne(std::string_view in, size_t& i, bool& ok) {
  const auto b0 = static_cast<unsigned char>(in[i]);
  if (b0 < 0x80) { ++i; return b0; }
  int len = 0;
  char32_t cp = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) { len = 2; cp = b0 & 0x1F; }
  else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3; cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no encoded surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4; cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else { ++i; ok = false; return kReplacement; }
  size_t j = i + 1;
  for (int k = 1; k < len; ++k, ++j) {
    if (j >= in.size()) { i = j; ok = false; return kReplacement; }
    const auto b = static_cast<unsigned char>(in[j]);
    if (b < lo || b > hi) { i = j; ok = false; return kReplacement; }
    lo = 0x80; hi = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
  }
  i = j;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

// Reads one code point from UTF-16; unpaired surrogates give U+FFFD.
char32_t NextUtf16(std::u16string_view in, size_t& i, bool& ok) {
  const char16_t u = in[i++];
  if (u < 0xD800 || u > 0xDFFF) return u;
  if (u <= 0xDBFF && i < in.size() && in[i] >= 0xDC00 && in[i] <= 0xDFFF) {
    const char16_t v = in[i++];
    return 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(v) - 0xDC00);
  }
  ok = false;
  return kReplacement;
}

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c + 32) : c; }

}  // namespace

std::u16string Utf8ToUtf16(std::string_view in, bool* valid) {
  std::u16string out;
  out.reserve(in.size());
  bool ok = true;
  for (size_t i = 0; i < in.size();) AppendUtf16(out, DecodeOne(in, i, ok));
  if (valid) *valid = ok;
  return out;
}

std::u32string Utf8ToUtf32(std::string_view in, bool* valid) {
  std::u32string out;
  out.reserve(in.size());
  bool ok = true;
  for (size_t i = 0; i < in.size();) out += DecodeOne(in, i, ok);
  if (valid) *valid = ok;
  return out;
}

std::string Utf16ToUtf8(std::u16string_view in, bool* valid) {
  std::string out;
  out.reserve(in.size());
  bool ok = true;
  for (size_t i = 0; i < in.size();) AppendUtf8(out, NextUtf16(in, i, ok));
  if (valid) *valid = ok;
  return out;
}

std::string Utf32ToUtf8(std::u32string_view in, bool* valid) {
  std::string out;
  out.reserve(in.size());
  bool ok = true;
  for (char32_t cp : in) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) { cp = kReplacement; ok = false; }
    AppendUtf8(out, cp);
  }
  if (valid) *valid = ok;
  return out;
}

std::u16string WideToUtf16(std::wstring_view in) {
  if constexpr (sizeof(wchar_t) == 2) {
    return std::u16string(reinterpret_cast<const char16_t*>(in.data()), in.size());
  } else {
    std::u16string out;
    out.reserve(in.size());
    for (wchar_t c : in) {
      char32_t cp = static_cast<char32_t>(c);
      if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
      AppendUtf16(out, cp);
    }
    return out;
  }
}

std::wstring Utf16ToWide(std::u16string_view in) {
  if constexpr (sizeof(wchar_t) == 2) {
    return std::wstring(reinterpret_cast<const wchar_t*>(in.data()), in.size());
  } else {
    std::wstring out;
    out.reserve(in.size());
    bool ok = true;
    for (size_t i = 0; i < in.size();) out += static_cast<wchar_t>(NextUtf16(in, i, ok));
    return out;
  }
}

std::wstring Utf8ToWide(std::string_view in, bool* valid) {
  if constexpr (sizeof(wchar_t) == 2) {
    return Utf16ToWide(Utf8ToUtf16(in, valid));
  } else {
    std::u32string u = Utf8ToUtf32(in, valid);
    return std::wstring(u.begin(), u.end());
  }
}

std::string WideToUtf8(std::wstring_view in, bool* valid) {
  if constexpr (sizeof(wchar_t) == 2) {
    return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(in.data()), in.size()), valid);
  } else {
    std::u32string u(in.begin(), in.end());
    return Utf32ToUtf8(u, valid);
  }
}

std::wstring TrimW(std::wstring_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsSpace(s[b])) ++b;
  while (e > b && IsSpace(s[e - 1])) --e;
  return std::wstring(s.substr(b, e - b));
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsSpace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && IsSpace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

std::wstring ToLowerAscii(std::wstring_view s) {
  std::wstring out(s);
  for (auto& c : out) c = LowerAscii(c);
  return out;
}

std::wstring ToUpperAscii(std::wstring_view s) {
  std::wstring out(s);
  for (auto& c : out) if (c >= L'a' && c <= L'z') c = wchar_t(c - 32);
  return out;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

bool StartsWithNoCase(std::wstring_view s, std::wstring_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

void SplitFirst(std::wstring_view s, wchar_t sep, std::wstring& head, std::wstring& rest) {
  const size_t p = s.find(sep);
  if (p == std::wstring_view::npos) {
    head.assign(s);
    rest.clear();
  } else {
    head.assign(s.substr(0, p));
    rest.assign(s.substr(p + 1));
  }
}

std::vector<std::wstring> Split(std::wstring_view s, std::wstring_view sep) {
  std::vector<std::wstring> out;
  if (sep.empty()) { out.emplace_back(s); return out; }
  size_t start = 0;
  for (;;) {
    const size_t p = s.find(sep, start);
    if (p == std::wstring_view::npos) { out.emplace_back(s.substr(start)); break; }
    out.emplace_back(s.substr(start, p - start));
    start = p + sep.size();
  }
  return out;
}

}  // namespace tovik
