// The e-mail transfer's exports. They work on the module-wide e-mail object; without one the
// ones that need it do nothing (the sending exports and the connect give -1).
#include <algorithm>

#include "boundary/guard.hpp"
#include "email/email_transfer.hpp"
#include "kivmod/kivmod.h"
#include "platform/text.hpp"
#include "platform/trace.hpp"

using kiv::CEmailTransfer;
using kiv::Guarded;
using kiv::GuardedVoid;

namespace {

// Runs body on the current e-mail object (kept alive for the call); failure without one.
template <typename R, typename F>
R WithEmail(const char* name, R failure, F&& body) noexcept {
  return Guarded(name, failure, [&]() -> R {
    std::shared_ptr<CEmailTransfer> transfer = kiv::CurrentEmailTransfer();
    if (!transfer) {
      kiv::TraceF("%s: no e-mail object\n", name);
      return failure;
    }
    return body(*transfer);
  });
}

kiv::EmailHeader ToHeader(const KivEmailHeader& h) {
  kiv::EmailHeader out;
  out.values = {h.value1, h.value2, h.attachmentCount, h.value4};
  const KivChar* texts[8] = {h.text1, h.text2, h.text3, h.text4, h.text5, h.text6, h.text7, h.attachments};
  for (std::size_t i = 0; i < 8; ++i) out.texts[i] = kiv::FromHost(texts[i]);
  out.value5 = h.value5;
  out.bodyName = kiv::FromHost(h.bodyName);
  out.text10 = kiv::FromHost(h.text10);
  return out;
}

}  // namespace

extern "C" {

KIV_API intptr_t Kiv_EmailTrans_Initialize(void) {
  return Guarded("Kiv_EmailTrans_Initialize", intptr_t{0},
                 [] { return reinterpret_cast<intptr_t>(kiv::NewEmailTransfer().get()); });
}

KIV_API int32_t Kiv_EmailTrans_SetHwnd(KivHwnd wnd) {
  return WithEmail("Kiv_EmailTrans_SetHwnd", 0, [&](CEmailTransfer& t) {
    t.SetHwnd(wnd);
    return 1;
  });
}

KIV_API int32_t Kiv_EmailTrans_SetTransferMethod(int32_t method) {
  return WithEmail("Kiv_EmailTrans_SetTransferMethod", 0, [&](CEmailTransfer& t) {
    t.SetTransferMethod(method);
    return 1;
  });
}

KIV_API int32_t Kiv_EmailTrans_SetPort(int32_t comPort) {
  return WithEmail("Kiv_EmailTrans_SetPort", 0, [&](CEmailTransfer& t) {
    t.SetPort(comPort);
    return 1;
  });
}

KIV_API int32_t Kiv_EmailTrans_SetBaudRate(int32_t rate) {
  return WithEmail("Kiv_EmailTrans_SetBaudRate", 0, [&](CEmailTransfer& t) {
    t.SetBaudRate(rate);
    return 1;
  });
}

KIV_API int32_t Kiv_EmailTrans_SetMsgID(uint32_t message) {
  return WithEmail("Kiv_EmailTrans_SetMsgID", 0, [&](CEmailTransfer& t) {
    t.m_nMsgID = message;
    return 1;
  });
}

KIV_API int32_t Kiv_EmailTrans_SetMsgWnd(KivHwnd msgWnd) {
  return WithEmail("Kiv_EmailTrans_SetMsgWnd", 0, [&](CEmailTransfer& t) {
    t.m_hMsgWnd = msgWnd;
    return 1;
  });
}

KIV_API void Kiv_EmailTrans_SetBTPort(const KivChar* address) {
  WithEmail("Kiv_EmailTrans_SetBTPort", 0, [&](CEmailTransfer& t) {
    t.m_strBTAddress = kiv::FromHost(address);
    return 0;
  });
}

KIV_API int32_t Kiv_EmailTrans_SetCancel(int32_t cancel) {
  return WithEmail("Kiv_EmailTrans_SetCancel", 0, [&](CEmailTransfer& t) {
    t.m_bCancel.store(cancel, std::memory_order_relaxed);
    return 1;
  });
}

KIV_API void Kiv_EmailTrans_GetEmailInfo(uint32_t* values) {
  WithEmail("Kiv_EmailTrans_GetEmailInfo", 0, [&](CEmailTransfer& t) {
    if (values) std::copy(t.m_EmailInfo.begin(), t.m_EmailInfo.end(), values);
    return 0;
  });
}

KIV_API int32_t Kiv_EmailTrans_Connect(KivHwnd wnd, int32_t method, int32_t comPort, const KivChar* btAddress,
                                       int32_t baudRate, int32_t mode) {
  return WithEmail("Kiv_EmailTrans_Connect", -1, [&](CEmailTransfer& t) {
    return t.Connect(wnd, method, comPort, kiv::FromHost(btAddress), baudRate, mode);
  });
}

KIV_API int32_t Kiv_EmailTrans_Disconnect(int32_t mode) {
  WithEmail("Kiv_EmailTrans_Disconnect", 0, [&](CEmailTransfer& t) { return t.Disconnect(mode); });
  return 1;
}

KIV_API int32_t Kiv_EmailTrans_GetEmailDBInfo(void) {
  return WithEmail("Kiv_EmailTrans_GetEmailDBInfo", -1, [](CEmailTransfer& t) { return t.GetEmailDBInfo(); });
}

KIV_API int32_t Kiv_EmailTrans_SendEmail(const KivEmailHeader* header, const KivChar* bodyFolder,
                                         const KivChar* attachFolder) {
  return WithEmail("Kiv_EmailTrans_SendEmail", kiv::kEmailCancelled, [&](CEmailTransfer& t) {
    if (!header) return kiv::kEmailNotSent;
    return t.SendEmail(ToHeader(*header), kiv::FromHost(bodyFolder), kiv::FromHost(attachFolder));
  });
}

KIV_API int32_t Kiv_EmailTrans_SendEmailHeader(const KivEmailHeader* header) {
  return WithEmail("Kiv_EmailTrans_SendEmailHeader", kiv::kEmailCancelled, [&](CEmailTransfer& t) {
    if (!header) return kiv::kEmailNotSent;
    return t.SendEmailHeader(ToHeader(*header));
  });
}

KIV_API int32_t Kiv_EmailTrans_SendEmailBody(const KivChar* name, const KivChar* folder) {
  return WithEmail("Kiv_EmailTrans_SendEmailBody", kiv::kEmailCancelled,
                   [&](CEmailTransfer& t) { return t.SendEmailBody(kiv::FromHost(name), kiv::FromHost(folder)); });
}

KIV_API int32_t Kiv_EmailTrans_SendEmailAttachFile(const KivChar* name, const KivChar* folder, int32_t) {
  return WithEmail("Kiv_EmailTrans_SendEmailAttachFile", kiv::kEmailCancelled,
                   [&](CEmailTransfer& t) { return t.SendEmailAttachFile(kiv::FromHost(name), kiv::FromHost(folder)); });
}

}  // extern "C"
