// Host window handles: the stand-in for window handles and SendMessageW. A message calls
// the host's window procedure synchronously on the calling thread.
#pragma once

#include <cstdint>

#include "kivmod/kivmod.h"

struct KivWindow {
  KivWndProc proc;
  void* user;
};

namespace kiv {

// A host window of the library's own (hosts without windows of their own), and its end.
KivHwnd NewHostWindow(KivWndProc proc, void* user);
void FreeHostWindow(KivHwnd window);

// Calls the window's procedure and returns its value; a null window takes nothing, gives 0.
intptr_t SendMessage(KivHwnd window, uint32_t message, uintptr_t wParam, intptr_t lParam);

}  // namespace kiv
