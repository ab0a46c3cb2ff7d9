#include "SimText.h"

#include <cstdint>

namespace sim {

namespace {
char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Length of the valid UTF-8 sequence at s[i], 0 when it is not one.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return 1;
  size_t len = 0;
  uint32_t cp = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) { len = 2; cp = b0 & 0x1F; }
  else if (b0 >= 0xE0 && b0 <= 0xEF) { len = 3; cp = b0 & 0x0F; }
  else if (b0 >= 0xF0 && b0 <= 0xF4) { len = 4; cp = b0 & 0x07; }
  else return 0;
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not valid text.
  if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
  if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
  return len;
}

// Captures are kept as views into the text and copied only once the whole match holds,
// so a long text against a pattern with a star costs no copies per attempt.
bool Glob(std::string_view p, std::string_view t, std::vector<std::string_view>* caps) {
  if (p.empty()) return t.empty();
  if (p[0] == '*') {
    // Shortest match first, so "get call * status" captures just the id.
    for (size_t n = 0; n <= t.size(); ++n) {
      if (caps) caps->push_back(t.substr(0, n));
      if (Glob(p.substr(1), t.substr(n), caps)) return true;
      if (caps) caps->pop_back();
    }
    return false;
  }
  if (t.empty() || LowerChar(p[0]) != LowerChar(t[0])) return false;
  return Glob(p.substr(1), t.substr(1), caps);
}
}  // namespace

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerChar(c);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerChar(a[i]) != LowerChar(b[i])) return false;
  return true;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view s) {
  const char* ws = " \t\r\n";
  const size_t b = s.find_first_not_of(ws);
  if (b == std::string_view::npos) return {};
  const size_t e = s.find_last_not_of(ws);
  return s.substr(b, e - b + 1);
}

bool GlobMatch(std::string_view pattern, std::string_view text, std::vector<std::string>* captures) {
  std::vector<std::string_view> views;
  const bool matched = Glob(pattern, text, captures ? &views : nullptr);
  if (captures) {
    captures->clear();
    if (matched)
      for (auto v : views) captures->emplace_back(v);
  }
  return matched;
}

std::string EscapeForLog(std::string_view s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    const size_t len = Utf8SequenceLength(s, i);
    if (b == '\\') {
      out += "\\\\";
      ++i;
    } else if (len == 0 || b < 0x20 || b == 0x7F) {
      out += "\\x";
      out += hex[b >> 4];
      out += hex[b & 15];
      ++i;
    } else {
      out.append(s.substr(i, len));
      i += len;
    }
  }
  return out;
}

std::optional<std::vector<std::string>> SplitWords(std::string_view line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i >= line.size()) break;
    std::string word;
    if (line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char c = line[i++];
        if (c == '"') { closed = true; break; }
        if (c == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) {
          word += line[i++];
        } else {
          word += c;
        }
      }
      if (!closed) return std::nullopt;
      if (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') return std::nullopt;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') word += line[i++];
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::optional<std::string> Unquote(std::string_view text) {
  const std::string_view t = Trim(text);
  if (t.empty() || t[0] != '"') return std::string(t);
  auto words = SplitWords(t);
  if (!words || words->size() != 1) return std::nullopt;
  return (*words)[0];
}

std::optional<long long> ParseInteger(std::string_view s) {
  s = Trim(s);
  if (s.empty()) return std::nullopt;
  bool negative = false;
  if (s[0] == '-') { negative = true; s.remove_prefix(1); }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) { base = 16; s.remove_prefix(2); }
  if (s.empty()) return std::nullopt;
  long long v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return std::nullopt;
    if (v > (0x7FFFFFFFFFFFFFFLL - d) / base) return std::nullopt;
    v = v * base + d;
  }
  return negative ? -v : v;
}

std::wstring WideFromUtf8(std::string_view s) {
  std::wstring out;
  size_t i = 0;
  while (i < s.size()) {
    const size_t len = Utf8SequenceLength(s, i);
    uint32_t cp;
    if (len == 0) {
      cp = 0xFFFD;
      ++i;
    } else {
      const auto b0 = static_cast<unsigned char>(s[i]);
      cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
      for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
      i += len;
    }
    if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (cp >> 10));
      out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<wchar_t>(cp);
    }
  }
  return out;
}

std::string Utf8FromWide(std::wstring_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = static_cast<uint32_t>(s[i]);
    if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() &&
        static_cast<uint32_t>(s[i + 1]) >= 0xDC00 && static_cast<uint32_t>(s[i + 1]) <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(s[i + 1]) - 0xDC00);
      ++i;
    } else if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      cp = 0xFFFD;
    }
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
  return out;
}

}  // namespace sim
