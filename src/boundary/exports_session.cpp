// The session exports: create the manager, connect and disconnect by cable, Bluetooth or
// the serial port profile, cancel, and read what the phone told at connection.
#include <algorithm>
#include <cstring>

#include "boundary/exports_common.hpp"
#include "kivmod/kivmod.h"
#include "link/channel.hpp"
#ifndef _WIN32
#include "phonesim/sim_channel.hpp"
#endif

using kiv::CurrentManager;
using kiv::Guarded;
using kiv::GuardedVoid;
using kiv::WithManager;

namespace {

const KivTypeArray kEmptyTypes{&kEmptyTypes, nullptr, 0, 0, 0};

#ifndef _WIN32
// KIVMOD_LINK=sim:FOLDER reaches the simulated phone in this process (it serves a POSIX
// folder tree; on Windows the library reaches phones, and that phone, over a link).
[[maybe_unused]] const bool kSimSchemeRegistered = (kiv::RegisterChannelMaker("sim", kiv::MakeSimChannel), true);
#endif

}  // namespace

extern "C" {

KIV_API void Kiv_Initalize(KivHwnd window, const KivChar*) {
  GuardedVoid("Kiv_Initalize", [&] { kiv::NewCurrentManager().Initialize(window); });
}

KIV_API void Kiv_InitalizeU(KivHwnd window) {
  GuardedVoid("Kiv_InitalizeU", [&] { kiv::NewCurrentManager().InitializeU(window); });
}

KIV_API int32_t Kiv_Connect(int32_t comPort, int32_t ignored, KivHwnd messageWindow, int32_t method) {
  return WithManager("Kiv_Connect", 0, [&](kiv::CPhoneFileManager& m) {
    return m.Connect(comPort, ignored, messageWindow, method, kiv::kCableBaudrate);
  });
}

KIV_API int32_t Kiv_Disconnect(void) {
  WithManager("Kiv_Disconnect", 0, [](kiv::CPhoneFileManager& m) {
    m.Disconnect();
    return 0;
  });
  return 1;
}

KIV_API int32_t Kiv_BTConnection(const uint8_t* address, int32_t method, KivHwnd window) {
  return Guarded("Kiv_BTConnection", 0, [&] {
    return kiv::NewCurrentManager().BTConnect(address, method, window, kiv::kModeClassic) ? 1 : 0;
  });
}

KIV_API int32_t Kiv_BTConnectionEx(const uint8_t* address, int32_t method, KivHwnd window) {
  return Guarded("Kiv_BTConnectionEx", 0, [&] {
    return kiv::NewCurrentManager().BTConnect(address, method, window, kiv::kModeExtended) ? 1 : 0;
  });
}

KIV_API int32_t Kiv_BTDisconnection(void) {
  return WithManager("Kiv_BTDisconnection", 0,
                     [](kiv::CPhoneFileManager& m) { return m.BTDisconnect(kiv::kModeClassic); });
}

KIV_API int32_t Kiv_BTDisconnectionEx(void) {
  return WithManager("Kiv_BTDisconnectionEx", 0,
                     [](kiv::CPhoneFileManager& m) { return m.BTDisconnect(kiv::kModeExtended); });
}

KIV_API int32_t Kiv_SPP_BTConnect(const uint8_t* address, int32_t method, KivHwnd window) {
  return WithManager("Kiv_SPP_BTConnect", 0,
                     [&](kiv::CPhoneFileManager& m) { return m.SPPConnect(address, method, window); });
}

KIV_API int32_t Kiv_SPP_BTDisconnect(int32_t keep) {
  return WithManager("Kiv_SPP_BTDisconnect", 0, [&](kiv::CPhoneFileManager& m) { return m.SPPDisconnect(keep); });
}

KIV_API void Kiv_TransferCancle(void) {
  WithManager("Kiv_TransferCancle", 0, [](kiv::CPhoneFileManager& m) {
    m.Abort();
    m.m_bCancel.store(1, std::memory_order_relaxed);
    return 0;
  });
}

KIV_API void Kiv_GetModelName(KivChar* buffer) {
  WithManager("Kiv_GetModelName", 0, [&](kiv::CPhoneFileManager& m) {
    std::u16string name = m.m_PFileMan.GetModelName();
    if (buffer && !name.empty()) std::copy(name.begin(), name.end(), buffer);
    return 0;
  });
}

KIV_API int32_t Kiv_GetFileManVersion(void) {
  return WithManager("Kiv_GetFileManVersion", 0, [](kiv::CPhoneFileManager& m) { return m.m_PFileMan.m_nVersion; });
}

KIV_API const KivTypeArray* Kiv_GetSupportFileExt(void) {
  return WithManager("Kiv_GetSupportFileExt", &kEmptyTypes,
                     [](kiv::CPhoneFileManager& m) { return m.m_PFileMan.GetSupportTypes(); });
}

KIV_API void Kiv_GetExtraMemoryName(KivChar* buffer) {
  WithManager("Kiv_GetExtraMemoryName", 0, [&](kiv::CPhoneFileManager& m) {
    if (!buffer) return 0;
    std::copy(m.m_strExtraMemory.begin(), m.m_strExtraMemory.end(), buffer);
    buffer[m.m_strExtraMemory.size()] = 0;
    return 0;
  });
}

}  // extern "C"
