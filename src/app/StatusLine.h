#pragma once
// The main window's status line and duration display: what they say and in which colour.
#include <cstdint>
#include <string>

namespace tovik {

enum StatusKind : int { STATUS_INIT = 0, STATUS_READY = 1, STATUS_RECORDING = 2, STATUS_PAUSED = 3 };

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

struct StatusText {
  std::wstring text;
  Rgb colour;
};

StatusText StatusFor(StatusKind kind);

// The duration display: "%H:%M:%S" within the day while a duration runs, else "Ready"
// once initialised, else "Waiting...".
StatusText DurationText(std::int64_t seconds, StatusKind kind);

}  // namespace tovik
