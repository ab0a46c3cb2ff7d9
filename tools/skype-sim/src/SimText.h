// Small UTF-8 text helpers of the stand-in. Everything the stand-in handles (scenario
// lines, wire texts, log lines) stays UTF-8; only Win32 names and paths are wide.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

std::string LowerAscii(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);
std::string_view Trim(std::string_view s);

// Whole-text glob match without regard to ASCII case: '*' matches any run of bytes,
// including none. Captures, when given, receive what each '*' matched, in order.
bool GlobMatch(std::string_view pattern, std::string_view text,
               std::vector<std::string>* captures = nullptr);

// One line per log entry: control bytes, backslashes and bytes that are not valid
// UTF-8 are written as escapes, so a hostile payload cannot forge or break log lines.
std::string EscapeForLog(std::string_view bytes);

// Splits a scenario line into words; a word in double quotes may hold spaces, and
// \" and \\ stand for a quote and a backslash inside it. Nothing on a bad quote.
std::optional<std::vector<std::string>> SplitWords(std::string_view line);

// A text that is one quoted word is unquoted; any other text is returned trimmed.
std::optional<std::string> Unquote(std::string_view text);

std::optional<long long> ParseInteger(std::string_view s);  // decimal or 0x hex

std::wstring WideFromUtf8(std::string_view s);
std::string Utf8FromWide(std::wstring_view s);

}  // namespace sim
