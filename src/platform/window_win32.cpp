// Host windows on Windows: real windows reached with SendMessageW, and message-only windows
// for hosts that have none of their own.
#include <windows.h>

#include <memory>

#include "platform/window.hpp"

namespace kiv {
namespace {

constexpr wchar_t kClassName[] = L"KivmodHostWindow";

struct HostProc {
  KivWndProc proc;
  void* user;
};

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  } else if (message == WM_NCDESTROY) {
    // The window owned its procedure record since creation.
    std::unique_ptr<HostProc> owned(reinterpret_cast<HostProc*>(GetWindowLongPtrW(window, GWLP_USERDATA)));
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  } else if (message >= WM_USER) {
    // The library's messages (WM_USER and up) go to the host; the system's stay here.
    auto* host = reinterpret_cast<HostProc*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (host && host->proc) return host->proc(host->user, window, message, wParam, lParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterHostClass() {
  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = HostWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

}  // namespace

KivHwnd NewHostWindow(KivWndProc proc, void* user) {
  if (!RegisterHostClass()) return nullptr;
  auto host = std::make_unique<HostProc>(HostProc{proc, user});
  HWND window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                                host.get());
  if (window) host.release();  // freed at WM_NCDESTROY
  return window;
}

void FreeHostWindow(KivHwnd window) {
  if (window && IsWindow(window)) DestroyWindow(window);
}

intptr_t SendToWindow(KivHwnd window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  // A handle that names no window (closed, or never one) takes nothing, as a null one.
  if (!window || !IsWindow(window)) return 0;
  return SendMessageW(window, message, wParam, lParam);
}

}  // namespace kiv
