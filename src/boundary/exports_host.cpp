// The exports through which a host sets up its side: windows of the library's own, the
// message box handler and a transport of its own.
#include "boundary/guard.hpp"
#include "kivmod/kivmod.h"
#include "link/phone_link.hpp"
#include "platform/message_box.hpp"
#include "platform/window.hpp"

extern "C" {

KIV_API KivHwnd KIV_CALL Kiv_CreateWindow(KivWndProc proc, void* user) {
  return kiv::Guarded("Kiv_CreateWindow", KivHwnd{nullptr}, [&] { return kiv::NewHostWindow(proc, user); });
}

KIV_API void KIV_CALL Kiv_DestroyWindow(KivHwnd window) {
  kiv::GuardedVoid("Kiv_DestroyWindow", [&] { kiv::FreeHostWindow(window); });
}

KIV_API void KIV_CALL Kiv_SetMessageBoxHandler(KivMessageBoxProc proc, void* user) {
  kiv::GuardedVoid("Kiv_SetMessageBoxHandler", [&] { kiv::SetMessageBoxHandler(proc, user); });
}

KIV_API void KIV_CALL Kiv_SetPhoneLink(const KivPhoneLinkOps* ops) {
  kiv::GuardedVoid("Kiv_SetPhoneLink", [&] { kiv::InstallHostLink(ops); });
}

}  // extern "C"
