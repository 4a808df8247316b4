// The system's message box when the host set no handler of its own.
#include <windows.h>

#include <string>

#include "platform/message_box.hpp"

namespace kiv {

void ShowSystemMessageBox(std::u16string_view text, std::u16string_view caption) {
  std::wstring t(text.begin(), text.end()), c(caption.begin(), caption.end());
  MessageBoxW(nullptr, t.c_str(), c.c_str(), MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
}

}  // namespace kiv
