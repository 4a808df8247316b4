// Host windows: where reports and progress go. On Windows they are real windows and a message
// is SendMessageW; elsewhere a handle holds the host's procedure, and a message calls it
// synchronously on the calling thread.
#pragma once

#include <cstdint>

#include "kivmod/kivmod.h"

#ifndef _WIN32
struct KivWindow {
  KivWndProc proc;
  void* user;
};
#endif

namespace kiv {

// A host window of the library's own (hosts without windows of their own), and its end. On
// Windows a message-only window whose procedure hands the library's messages to proc.
KivHwnd NewHostWindow(KivWndProc proc, void* user);
void FreeHostWindow(KivHwnd window);

// Sends a message and returns the window's answer; a null or invalid window takes nothing
// and gives 0.
intptr_t SendToWindow(KivHwnd window, uint32_t message, uintptr_t wParam, intptr_t lParam);

}  // namespace kiv
