// Folder tree exports: open a folder (recursively), free and total space of a folder.
#include "boundary/exports_common.hpp"
#include "link/phone_link.hpp"
#include "platform/text.hpp"

using kiv::CPhoneFileManager;
using kiv::FromHost;
using kiv::WithManager;

extern "C" {

KIV_API int32_t Kiv_OpenFolder(const KivChar* path, KivHwnd window) {
  return WithManager("Kiv_OpenFolder", 0, [&](CPhoneFileManager& m) {
    if (!kiv::CurrentLink().IsConnected()) return 0;
    m.m_bCancel.store(0, std::memory_order_relaxed);
    return m.OpenFolder(FromHost(path), true, window);
  });
}

KIV_API int64_t Kiv_UpdateFreeSize(const KivChar* path, KivHwnd window) {
  return WithManager("Kiv_UpdateFreeSize", int64_t{0}, [&](CPhoneFileManager& m) {
    int64_t value = 0;
    return m.UpdateFreeSize(FromHost(path), &value, window) ? value : int64_t{0};
  });
}

KIV_API int64_t Kiv_GetTotalSpace(const KivChar* path, KivHwnd window) {
  return WithManager("Kiv_GetTotalSpace", int64_t{0}, [&](CPhoneFileManager& m) {
    int64_t value = 0;
    return m.GetTotalSpaceOf(FromHost(path), &value, window) ? value : int64_t{0};
  });
}

}  // extern "C"
