// The Java installer's exports: a manager of its own, the cable session, and the probe,
// send, install and delete of application files.
#include "boundary/exports_common.hpp"
#include "java/java_installer.hpp"
#include "kivmod/kivmod.h"
#include "link/phone_link.hpp"
#include "platform/text.hpp"

using kiv::CJavaInstaller;
using kiv::CPhoneFileManager;
using kiv::Guarded;
using kiv::GuardedVoid;
using kiv::WithManager;

extern "C" {

KIV_API void Kiv_JavaInstaller_Initalize(KivHwnd wnd) {
  GuardedVoid("Kiv_JavaInstaller_Initalize", [&] {
    CPhoneFileManager& m = kiv::NewCurrentManager();
    m.m_hWnd = wnd;
    m.m_bConnected = 0;
    m.m_PFileMan.Abort();
    m.m_PFileMan.SetUnicode(1);
    m.m_PFileMan.bAbortLoading.store(0, std::memory_order_relaxed);
    m.m_bCancel.store(0, std::memory_order_relaxed);
  });
}

KIV_API int32_t Kiv_Java_Connect(int32_t comPort, KivHwnd msgWnd, int32_t method) {
  return WithManager("Kiv_Java_Connect", 0, [&](CPhoneFileManager& m) {
    return m.Family<CJavaInstaller>().Connect(comPort, msgWnd, method);
  });
}

KIV_API int32_t Kiv_Java_DisConnect(void) {
  return Guarded("Kiv_Java_DisConnect", 0, [] { return kiv::CurrentLink().ClosePortHandle(); });
}

KIV_API int32_t Kiv_Java_IsFileExist(uint32_t, const KivChar* folder, const KivChar* name, uint32_t size,
                                     uint32_t* value, uint8_t* result) {
  return WithManager("Kiv_Java_IsFileExist", 0, [&](CPhoneFileManager& m) {
    return m.Family<CJavaInstaller>().IsFileExist(kiv::HostView(folder), kiv::HostView(name), size, value, result);
  });
}

KIV_API int32_t Kiv_Java_SendFile(const KivChar* name, const KivChar* localPath, const KivChar* folder,
                                  KivHwnd wnd) {
  return WithManager("Kiv_Java_SendFile", 0, [&](CPhoneFileManager& m) {
    if (!kiv::CurrentLink().IsConnected()) return 0;
    std::vector<std::u16string> files{std::u16string(kiv::HostView(localPath))};
    return m.Family<CJavaInstaller>().SendFileProc(files, kiv::HostView(name), kiv::HostView(folder), wnd);
  });
}

KIV_API int32_t Kiv_Java_InstallCommand(const KivChar* folder, const KivChar* name) {
  return WithManager("Kiv_Java_InstallCommand", 0, [&](CPhoneFileManager& m) {
    return m.Family<CJavaInstaller>().Install(kiv::HostView(folder), kiv::HostView(name));
  });
}

KIV_API int32_t Kiv_Java_DeleteFile(const KivChar* folder, const KivChar* name) {
  WithManager("Kiv_Java_DeleteFile", 0,
              [&](CPhoneFileManager& m) { return m.Family<CJavaInstaller>().DeleteFile(kiv::HostView(folder), kiv::HostView(name)); });
  return 1;
}

}  // extern "C"
