#include "app/StatusLine.h"

#include <cwchar>

namespace tovik {

StatusText StatusFor(StatusKind kind) {
  switch (kind) {
    case STATUS_INIT: return {L"Waiting to access Skype ...", {0, 0, 0}};
    case STATUS_READY: return {L"Ready for recording ...", {0, 0, 0}};
    case STATUS_RECORDING: return {L"Recording in progress ...", {226, 0, 0}};
    case STATUS_PAUSED: return {L"Recording pause ...", {226, 0, 0}};
  }
  return {L"", {0, 0, 0}};
}

StatusText DurationText(std::int64_t seconds, StatusKind kind) {
  if (seconds != 0) {
    const std::int64_t s = seconds < 0 ? -seconds : seconds;
    const std::int64_t inDay = s % 86400;
    wchar_t buf[16];
    std::swprintf(buf, 16, L"%02d:%02d:%02d", int(inDay / 3600), int(inDay / 60 % 60), int(inDay % 60));
    return {buf, {236, 0, 0}};
  }
  if (kind != STATUS_INIT) return {L"Ready", {0, 255, 0}};
  return {L"Waiting...", {255, 0, 0}};
}

}  // namespace tovik
