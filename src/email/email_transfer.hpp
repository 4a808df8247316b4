// The e-mail transfer: a session of its own beside the transfer manager that hands the phone
// e-mail messages to send (a header record, a body file, attachment files) in packets of
// class 0x26 with big-endian bodies. One module-wide object is current at a time.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kivmod/kivmod.h"
#include "link/packet.hpp"

namespace kiv {

inline constexpr uint8_t kEmailClass = 0x26;

// Results of the sending operations ("status"); any other value is the phone's own status.
inline constexpr int32_t kEmailAccepted = 0x41;
inline constexpr int32_t kEmailNotSent = 0x43;
inline constexpr int32_t kEmailDenied = 0x44;
inline constexpr int32_t kEmailWrongClass = 0;
inline constexpr int32_t kEmailCancelled = -1;

// Notices to the message window (wParam; lParam 0 or the attachment index).
inline constexpr uint32_t kNoticeHeaderAccepted = 0x32;
inline constexpr uint32_t kNoticeHeaderFailed = 0x33;
inline constexpr uint32_t kNoticeBodyAccepted = 0x34;
inline constexpr uint32_t kNoticeBodyFailed = 0x35;
inline constexpr uint32_t kNoticeAttachAccepted = 0x36;
inline constexpr uint32_t kNoticeAttachFailed = 0x37;
inline constexpr uint32_t kNoticeAttachStart = 0x38;

// File bytes per piece; a shorter piece (possibly empty) is the last.
inline constexpr std::size_t kEmailPieceSize = 1000;
// Values of the capability record; the phone's answer fills all but the 7th and 8th.
inline constexpr std::size_t kEmailInfoCount = 27;
inline constexpr std::size_t kEmailAnswerValues = 25;
// Longest text of a header record, in UTF-16 units.
inline constexpr std::size_t kEmailMaxTextUnits = 4095;

// The header record: H1..H4, T1..T8, H5, T9, T10. H3 counts the attachments, T8 names them
// (separated by ";"), T9 names the body file.
struct EmailHeader {
  std::array<uint32_t, 4> values{};
  std::array<std::u16string, 8> texts;
  uint32_t value5 = 0;
  std::u16string bodyName;
  std::u16string text10;
};

class CEmailTransfer {
 public:
  CEmailTransfer() = default;
  CEmailTransfer(const CEmailTransfer&) = delete;
  CEmailTransfer& operator=(const CEmailTransfer&) = delete;

  // Setters that also hand the value to the phone link at once.
  void SetHwnd(KivHwnd window);
  void SetTransferMethod(int method);
  void SetPort(int port);
  void SetBaudRate(int rate);

  // Opens the link by the method: Bluetooth with the stored address (mode nonzero classic,
  // 0 extended; the low byte of the link's result), else the cable (the link's result).
  // 0 without a connect when a Bluetooth address is not twelve hexadecimal digits.
  int Connect(KivHwnd window, int method, int port, std::u16string_view address, int rate, int mode);
  int Disconnect(int mode);

  // The capability request: 1 read into the record, 0 not (the record is left as it was).
  int GetEmailDBInfo();
  // The header buffer size B that the phone's limits allow.
  uint64_t HeaderBufferSize() const;

  int32_t SendEmailHeader(const EmailHeader& header);
  int32_t SendEmailBody(std::u16string_view name, std::u16string_view folder);
  int32_t SendEmailAttachFile(std::u16string_view name, std::u16string_view folder);
  // Header, body and the first H3 attachments, with notices; the first status that is not
  // kEmailAccepted ends it.
  int32_t SendEmail(const EmailHeader& header, std::u16string_view bodyFolder, std::u16string_view attachFolder);

  int32_t m_bConnected = 0;
  std::atomic<int32_t> m_bCancel{0};
  int32_t m_nTransMethod = 0;
  int32_t m_nBaudRate = 115200;
  int32_t m_nComPort = 0;
  std::u16string m_strBTAddress;
  KivHwnd m_hWnd = nullptr;
  KivHwnd m_hMsgWnd = nullptr;
  uint32_t m_nMsgID = 0;
  std::array<uint32_t, kEmailInfoCount> m_EmailInfo{};

 private:
  enum class Outcome { kNotSent, kNoAnswer, kWrongClass, kAnswered };
  // One request of class 0x26 and its answer.
  Outcome Exchange(uint8_t code, std::span<const uint8_t> body, int32_t flag, CGenPacket& answer);
  int32_t SendFile(uint8_t startCode, uint8_t pieceCode, std::u16string_view name, std::u16string_view folder);
  void Notice(uint32_t code, intptr_t index = 0);
  bool Cancelled() const { return m_bCancel.load(std::memory_order_relaxed) != 0; }

  std::vector<uint8_t> m_Piece;
};

// The status an answer's code and body stand for: 'A' accepted, 'D' denied, else the
// 32-bit status at the start of the body (kEmailNotSent when it is missing, or when it would
// read as an acceptance).
int32_t EmailAnswerStatus(const CGenPacket& answer);

// The module-wide current object; null before the first Kiv_EmailTrans_Initialize. An
// operation holds its own reference, so a replacement while it runs does not pull the object
// from under it.
std::shared_ptr<CEmailTransfer> CurrentEmailTransfer();
// Makes a new object current in place of the old one.
std::shared_ptr<CEmailTransfer> NewEmailTransfer();
void DestroyEmailTransfer();

}  // namespace kiv
