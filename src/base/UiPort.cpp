#include "base/UiPort.h"

#include <atomic>

namespace tovik {
namespace {
std::atomic<IMessageBox*> g_box{nullptr};
}
void SetMessageBox(IMessageBox* box) { g_box.store(box); }
IMessageBox* GetMessageBox() { return g_box.load(); }
void ShowMessage(const std::wstring& text, const std::wstring& caption, MessageIcon icon) {
  if (IMessageBox* box = g_box.load()) box->Show(text, caption, icon);
}
}  // namespace tovik
