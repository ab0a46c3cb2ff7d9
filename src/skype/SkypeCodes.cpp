#include "skype/SkypeCodes.h"

#include <climits>

#include "base/Text.h"

namespace tovik {

int UserStatusFromWord(std::wstring_view word) {
  struct Entry { const wchar_t* word; int code; };
  static constexpr Entry kTable[] = {
      {L"UNKNOWN", USER_UNKNOWN}, {L"LOGGEDOUT", USER_LOGGEDOUT}, {L"OFFLINE", USER_OFFLINE},
      {L"ONLINE", USER_ONLINE},   {L"SKYPEME", USER_SKYPEME},     {L"AWAY", USER_AWAY},
      {L"NA", USER_NA},           {L"DND", USER_DND},             {L"INVISIBLE", USER_INVISIBLE},
  };
  const std::wstring upper = ToUpperAscii(word);
  for (const auto& e : kTable)
    if (upper == e.word) return e.code;
  return USER_UNKNOWN;
}

int CallStatusFromWord(std::wstring_view word) {
  struct Entry { const wchar_t* word; int code; };
  static constexpr Entry kTable[] = {
      {L"UNPLACED", CALL_UNPLACED},     {L"ROUTING", CALL_ROUTING},   {L"EARLYMEDIA", CALL_EARLYMEDIA},
      {L"FAILED", CALL_FAILED},         {L"RINGING", CALL_RINGING},   {L"INPROGRESS", CALL_INPROGRESS},
      {L"ONHOLD", CALL_ONHOLD},         {L"LOCALHOLD", CALL_ONHOLD},  {L"REMOTEHOLD", CALL_ONHOLD},
      {L"FINISHED", CALL_FINISHED},     {L"MISSED", CALL_MISSED},     {L"REFUSED", CALL_REFUSED},
      {L"BUSY", CALL_BUSY},             {L"CANCELLED", CALL_CANCELLED},
  };
  const std::wstring upper = ToUpperAscii(word);
  for (const auto& e : kTable)
    if (upper == e.word) return e.code;
  return CALL_UNKNOWN;
}

int ParseIntLoose(std::wstring_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t' || text[i] == L'\r' ||
                             text[i] == L'\n' || text[i] == L'\v' || text[i] == L'\f'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  return static_cast<int>(value);
}

}  // namespace tovik
