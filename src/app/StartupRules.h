#pragma once
// Start-up decisions that depend only on what the system reports.
#include <string>

namespace tovik {

// Major 6 with minor 2 or more (Windows 8, 8.1), or a major version above 7 (10 and on).
inline bool IsWindows8OrLater(unsigned major, unsigned minor) {
  return (major == 6 && minor >= 2) || major > 7;
}

// The recording folder default and the data folder below the shell's folders; empty
// input gives empty output (the shell had no such folder).
inline std::wstring RecordingFolderFor(const std::wstring& documents) {
  return documents.empty() ? std::wstring() : documents + L"\\Tovik Skype Recorder";
}
inline std::wstring DataFolderFor(const std::wstring& appData) {
  return appData.empty() ? std::wstring() : appData + L"\\Tovik\\";
}

}  // namespace tovik
