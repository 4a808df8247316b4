// Host windows off Windows: opaque handles made by Kiv_CreateWindow whose procedure takes
// every message synchronously on the calling thread (the stand-in for SendMessageW).
#include "platform/window.hpp"

#include <memory>

namespace kiv {

KivHwnd NewHostWindow(KivWndProc proc, void* user) {
  return std::make_unique<KivWindow>(KivWindow{proc, user}).release();
}

void FreeHostWindow(KivHwnd window) { std::unique_ptr<KivWindow> owned(window); }

intptr_t SendToWindow(KivHwnd window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!window || !window->proc) return 0;
  return window->proc(window->user, window, message, wParam, lParam);
}

}  // namespace kiv
