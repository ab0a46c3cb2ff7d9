#pragma once
// Text conversions and small string helpers. Text inside the program is std::wstring;
// UTF-8 appears only on the Skype wire and in the history file. wchar_t is 16 bits
// (UTF-16) on Windows and 32 bits natively, so every conversion handles both.
#include <string>
#include <string_view>
#include <vector>

namespace tovik {

// Invalid UTF-8 (stray continuation bytes, overlongs, surrogates, truncated sequences)
// becomes U+FFFD one maximal bad subpart at a time; `valid` reports whether any was seen.
std::u16string Utf8ToUtf16(std::string_view in, bool* valid = nullptr);
std::u32string Utf8ToUtf32(std::string_view in, bool* valid = nullptr);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view in, bool* valid = nullptr);
std::string Utf32ToUtf8(std::u32string_view in, bool* valid = nullptr);

std::wstring Utf8ToWide(std::string_view in, bool* valid = nullptr);
std::string WideToUtf8(std::wstring_view in, bool* valid = nullptr);

// wchar_t <-> UTF-16 code units (identity on Windows, surrogate pairs natively).
std::u16string WideToUtf16(std::wstring_view in);
std::wstring Utf16ToWide(std::u16string_view in);

std::wstring TrimW(std::wstring_view s);          // spaces, tabs, CR and LF at both ends
std::string Trim(std::string_view s);
std::wstring ToLowerAscii(std::wstring_view s);   // only A-Z are folded
std::wstring ToUpperAscii(std::wstring_view s);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);  // ASCII case folding
bool StartsWithNoCase(std::wstring_view s, std::wstring_view prefix);

// Splits at the first occurrence of `sep`; `rest` is empty when there is none.
void SplitFirst(std::wstring_view s, wchar_t sep, std::wstring& head, std::wstring& rest);
std::vector<std::wstring> Split(std::wstring_view s, std::wstring_view sep);

}  // namespace tovik
