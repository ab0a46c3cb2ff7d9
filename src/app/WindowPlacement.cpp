#include "app/WindowPlacement.h"

#include <cwchar>

#include "base/Text.h"

namespace tovik {

std::optional<Rect> ParseHisPos(const std::wstring& text) {
  const std::vector<std::wstring> parts = Split(text, L",");
  if (parts.size() != 4) return std::nullopt;
  int v[4];
  for (int i = 0; i < 4; ++i) {
    const std::wstring p = TrimW(parts[i]);
    if (p.empty() || p.size() > 9) return std::nullopt;
    for (wchar_t c : p)
      if (c < L'0' || c > L'9') return std::nullopt;  // a sign makes it negative: not used
    v[i] = static_cast<int>(std::wcstol(p.c_str(), nullptr, 10));
  }
  return Rect{v[0], v[1], v[2], v[3]};
}

std::wstring FormatHisPos(const Rect& r) {
  wchar_t buf[64];
  std::swprintf(buf, 64, L"%d,%d,%d,%d", r.left, r.top, r.right, r.bottom);
  return buf;
}

std::optional<Rect> RestoredPlacement(const std::wstring& hispos, const Rect& window, const Rect& workArea) {
  const auto saved = ParseHisPos(hispos);
  if (!saved) return std::nullopt;
  Rect r{saved->left, saved->top, saved->left + window.Width(), saved->top + window.Height()};
  if (r.left < workArea.left || r.top < workArea.top || r.right > workArea.right || r.bottom > workArea.bottom)
    return std::nullopt;
  return r;
}

}  // namespace tovik
