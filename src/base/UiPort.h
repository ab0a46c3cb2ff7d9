#pragma once
// Message boxes the core must show (failures the user has to act on). The Win32 shell
// shows a real MessageBoxW; tests record the texts.
#include <functional>
#include <string>

namespace tovik {

enum class MessageIcon { Information, Exclamation, Error };

struct IMessageBox {
  virtual ~IMessageBox() = default;
  virtual void Show(const std::wstring& text, const std::wstring& caption, MessageIcon icon) = 0;
};

// The process-wide box used by objects that have no other owner to report to. Null means
// "say nothing" (some tests, and the core before the shell has started).
void SetMessageBox(IMessageBox* box);
IMessageBox* GetMessageBox();
void ShowMessage(const std::wstring& text, const std::wstring& caption, MessageIcon icon);

inline const wchar_t* const kProductTitle = L"Tovik Skype Recorder";

}  // namespace tovik
