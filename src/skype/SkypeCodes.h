#pragma once
// Skype's status words as the numbers the rest of the program works with, and the
// lenient integer reading Skype's numeric fields need.
#include <string_view>

namespace tovik {

// UserStatus: CONNSTATUS and USERSTATUS words.
enum UserStatus : int {
  USER_UNKNOWN = 0, USER_LOGGEDOUT = 1, USER_OFFLINE = 2, USER_ONLINE = 3, USER_SKYPEME = 4,
  USER_AWAY = 5, USER_NA = 6, USER_DND = 7, USER_INVISIBLE = 8,
};

// CallStatus: CALL ... STATUS words. 6 and 7 are live; 4 and 8 to 12 have ended.
enum CallStatus : int {
  CALL_UNKNOWN = 0, CALL_UNPLACED = 1, CALL_ROUTING = 2, CALL_EARLYMEDIA = 3, CALL_FAILED = 4,
  CALL_RINGING = 5, CALL_INPROGRESS = 6, CALL_ONHOLD = 7, CALL_FINISHED = 8, CALL_MISSED = 9,
  CALL_REFUSED = 10, CALL_BUSY = 11, CALL_CANCELLED = 12,
};

// Words are compared after upper-casing; any other word is 0.
int UserStatusFromWord(std::wstring_view word);
int CallStatusFromWord(std::wstring_view word);

// Reads an integer the way the C runtime's _wtoi does (leading white space, an optional
// sign, digits up to the first non-digit; 0 when there are none), but saturates at the
// int range instead of overflowing.
int ParseIntLoose(std::wstring_view text);

}  // namespace tovik
