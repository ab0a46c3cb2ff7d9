#pragma once
// Window geometry rules of the main window that do not need Win32.
#include <optional>
#include <string>

namespace tovik {

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const Rect&) const = default;
};

// "hispos" as written at exit: "%d,%d,%d,%d". A negative or missing number means the
// saved place is not used.
std::optional<Rect> ParseHisPos(const std::wstring& text);
std::wstring FormatHisPos(const Rect& r);

// Where the window goes at start-up: the saved left and top with its own size, when that
// place lies within the work area; otherwise nothing moves.
std::optional<Rect> RestoredPlacement(const std::wstring& hispos, const Rect& window, const Rect& workArea);

}  // namespace tovik
