#include "email/email_transfer.hpp"

#include <algorithm>
#include <utility>
#include <mutex>
#include <new>

#include "link/phone_link.hpp"
#include "platform/trace.hpp"
#include "platform/window.hpp"
#include "protocol/codec.hpp"
#include "protocol/transfer_file.hpp"

namespace kiv {
namespace {

constexpr uint8_t kCmdCapability = 0x10;
constexpr uint8_t kCmdHeader = 0x13;
constexpr uint8_t kCmdBodyStart = 0x14;
constexpr uint8_t kCmdBodyPiece = 0x15;
constexpr uint8_t kCmdAttachStart = 0x16;
constexpr uint8_t kCmdAttachPiece = 0x17;

constexpr uint8_t kCodeAccepted = 'A';
constexpr uint8_t kCodeContinue = 'B';
constexpr uint8_t kCodeDenied = 'D';

constexpr uint32_t kHeaderBaseSize = 528;

std::mutex g_currentMutex;
std::shared_ptr<CEmailTransfer> g_current;

// Two hexadecimal digits per byte, twelve in all, nothing else.
bool ParseBluetoothAddress(std::u16string_view text, uint8_t out[6]) {
  if (text.size() != 12) return false;
  auto digit = [](char16_t c) -> int {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < 6; ++i) {
    int hi = digit(text[2 * i]), lo = digit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
  return true;
}

// The local path of folder\name; a bare name when no folder is given.
std::u16string LocalPath(std::u16string_view folder, std::u16string_view name) {
  std::u16string path(folder);
  if (!path.empty()) path += u'\\';
  path += name;
  return path;
}

// The names of the attachment list, split at ";" with empty names kept.
std::vector<std::u16string> SplitNames(std::u16string_view list) {
  std::vector<std::u16string> names;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = list.find(u';', start);
    names.emplace_back(list.substr(start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start));
    if (end == std::u16string_view::npos) break;
    start = end + 1;
  }
  return names;
}

}  // namespace

int32_t EmailAnswerStatus(const CGenPacket& answer) {
  if (answer.GetCode() == kCodeAccepted) return kEmailAccepted;
  if (answer.GetCode() == kCodeDenied) return kEmailDenied;
  uint32_t status = 0;
  if (Unpack(answer.Body(), "d", {&status}, ByteOrder::kBig) < 0) return kEmailNotSent;
  if (static_cast<int32_t>(status) == kEmailAccepted) return kEmailNotSent;
  return static_cast<int32_t>(status);
}

void CEmailTransfer::SetHwnd(KivHwnd window) {
  m_hWnd = window;
  CurrentLink().SetHWnd(window);
}

void CEmailTransfer::SetTransferMethod(int method) {
  m_nTransMethod = method;
  CurrentLink().SetTransMethod(method);
}

void CEmailTransfer::SetPort(int port) {
  m_nComPort = port;
  CurrentLink().SetComPort(port);
}

void CEmailTransfer::SetBaudRate(int rate) {
  m_nBaudRate = rate;
  CurrentLink().SetBaudrate(rate);
}

int CEmailTransfer::Connect(KivHwnd window, int method, int port, std::u16string_view address, int rate,
                            int mode) {
  PhoneLink& link = CurrentLink();
  link.CleanVestrel();
  SetHwnd(window);
  SetPort(port);
  m_strBTAddress = address;
  SetBaudRate(rate);
  SetTransferMethod(method);
  int result = 0;
  if (IsBluetoothMethod(method)) {
    uint8_t bytes[6];
    if (!ParseBluetoothAddress(m_strBTAddress, bytes)) {
      Trace("CEmailTransfer::Connect: the Bluetooth address is not twelve hexadecimal digits\n");
      return 0;
    }
    link.SetBTDeviceAddress(bytes);
    result = (mode ? link.BTConnection() : link.BTConnectionEx()) & 0xFF;
  } else {
    result = link.Connect("", 0);
  }
  if (result != 0) m_bConnected = 1;
  return result;
}

int CEmailTransfer::Disconnect(int mode) {
  PhoneLink& link = CurrentLink();
  if (IsBluetoothMethod(m_nTransMethod)) {
    if (mode) {
      link.BTDisconnection();
    } else {
      link.BTDisconnectionEx();
    }
  } else {
    link.Disconnect();
    link.CleanVestrel();
  }
  m_bConnected = 0;
  return 1;
}

CEmailTransfer::Outcome CEmailTransfer::Exchange(uint8_t code, std::span<const uint8_t> body, int32_t flag,
                                                 CGenPacket& answer) {
  PhoneLink& link = CurrentLink();
  CGenPacket request(kEmailClass, code, flag, link.GetNextSeqNum(), 0, body.data(),
                     static_cast<uint16_t>(body.size()));
  if (link.PktSend(request) == 0) return Outcome::kNotSent;
  answer.Reset();
  if (link.PktRead(answer) != 1) return Outcome::kNoAnswer;
  return answer.GetClass() == kEmailClass ? Outcome::kAnswered : Outcome::kWrongClass;
}

int CEmailTransfer::GetEmailDBInfo() {
  CGenPacket answer;
  if (Exchange(kCmdCapability, {}, 1, answer) != Outcome::kAnswered || answer.GetCode() != kCodeAccepted) return 0;
  std::array<uint32_t, kEmailAnswerValues> values{};
  std::span<const uint8_t> body = answer.Body();
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (Unpack(body.subspan(std::min(body.size(), 4 * i)), "d", {&values[i]}, ByteOrder::kBig) < 0) return 0;
  }
  // The answer's values fill the record but for its 7th and 8th.
  for (std::size_t i = 0; i < values.size(); ++i) m_EmailInfo[i < 6 ? i : i + 2] = values[i];
  return 1;
}

uint64_t CEmailTransfer::HeaderBufferSize() const {
  auto c = [&](std::size_t n) { return static_cast<uint64_t>(m_EmailInfo[n - 1]); };
  return c(13) * c(14) + c(15) * c(16) + c(17) * c(18) + c(19) * c(20) + c(21) * c(22) + c(23) + c(24) + c(25) +
         kHeaderBaseSize;
}

int32_t CEmailTransfer::SendEmailHeader(const EmailHeader& h) {
  // A header that does not fit the phone's buffer, or one packet, is not sent at all: no
  // text is cut short on the wire.
  for (const auto& text : h.texts)
    if (text.size() > kEmailMaxTextUnits) return kEmailNotSent;
  if (h.bodyName.size() > kEmailMaxTextUnits || h.text10.size() > kEmailMaxTextUnits) return kEmailNotSent;
  std::vector<uint8_t> body;
  try {
    Pack(body, 0, "dddduuuuuuuuduu",
         {h.values[0], h.values[1], h.values[2], h.values[3], h.texts[0], h.texts[1], h.texts[2], h.texts[3],
          h.texts[4], h.texts[5], h.texts[6], h.texts[7], h.value5, h.bodyName, h.text10},
         ByteOrder::kBig);
  } catch (const std::bad_alloc&) {
    return kEmailNotSent;
  }
  if (body.size() > HeaderBufferSize() || body.size() > CGenPacket::kMaxBody) {
    TraceF("CEmailTransfer::SendEmailHeader: header of %zu bytes does not fit\n", body.size());
    return kEmailNotSent;
  }
  CGenPacket answer;
  switch (Exchange(kCmdHeader, body, 1, answer)) {
    case Outcome::kNotSent:
    case Outcome::kNoAnswer: return kEmailNotSent;
    case Outcome::kWrongClass: return kEmailWrongClass;
    case Outcome::kAnswered: break;
  }
  return EmailAnswerStatus(answer);
}

int32_t CEmailTransfer::SendFile(uint8_t startCode, uint8_t pieceCode, std::u16string_view name,
                                 std::u16string_view folder) {
  if (Cancelled()) return kEmailCancelled;
  // The file is opened before the phone hears of it: an unreadable file is never announced.
  TransferFile file;
  if (name.empty() || !file.Open(LocalPath(folder, name), TransferFile::Mode::Read)) return kEmailNotSent;
  const int64_t length = file.Length();
  if (length < 0 || length > int64_t{UINT32_MAX}) return kEmailNotSent;
  const uint64_t size = static_cast<uint64_t>(length);

  if (name.size() > kEmailMaxTextUnits) return kEmailNotSent;
  std::vector<uint8_t> start;
  Pack(start, 0, "ud", {name, static_cast<uint32_t>(size)}, ByteOrder::kBig);
  CGenPacket answer;
  switch (Exchange(startCode, start, 1, answer)) {
    case Outcome::kNotSent:
    case Outcome::kNoAnswer: return kEmailNotSent;
    case Outcome::kWrongClass: return kEmailWrongClass;
    case Outcome::kAnswered: break;
  }
  if (answer.GetCode() != kCodeAccepted) return kEmailNotSent;

  // The start's acceptance is not the file's: only the answer to the last piece (or an 'A'
  // once every byte went out) accepts it.
  uint64_t offset = 0;
  for (;;) {
    if (Cancelled()) return kEmailCancelled;
    const std::size_t count = static_cast<std::size_t>(std::min<uint64_t>(kEmailPieceSize, size - offset));
    m_Piece.resize(count);
    if (count && !file.ReadExact(m_Piece)) return kEmailNotSent;
    const bool last = count < kEmailPieceSize;
    switch (Exchange(pieceCode, m_Piece, last ? 1 : 0, answer)) {
      case Outcome::kNotSent:
      case Outcome::kNoAnswer: return kEmailNotSent;
      case Outcome::kWrongClass: return kEmailWrongClass;
      case Outcome::kAnswered: break;
    }
    offset += count;
    const uint8_t code = answer.GetCode();
    if (last) return code == kCodeContinue ? kEmailNotSent : EmailAnswerStatus(answer);
    if (code == kCodeContinue) continue;
    if (code == kCodeAccepted) return offset == size ? kEmailAccepted : kEmailNotSent;
    return EmailAnswerStatus(answer);
  }
}

int32_t CEmailTransfer::SendEmailBody(std::u16string_view name, std::u16string_view folder) {
  return SendFile(kCmdBodyStart, kCmdBodyPiece, name, folder);
}

int32_t CEmailTransfer::SendEmailAttachFile(std::u16string_view name, std::u16string_view folder) {
  return SendFile(kCmdAttachStart, kCmdAttachPiece, name, folder);
}

void CEmailTransfer::Notice(uint32_t code, intptr_t index) {
  if (m_hMsgWnd) SendToWindow(m_hMsgWnd, m_nMsgID, code, index);
}

int32_t CEmailTransfer::SendEmail(const EmailHeader& header, std::u16string_view bodyFolder,
                                  std::u16string_view attachFolder) {
  Trace("CEmailTransfer::SendEmail() called \n");
  std::vector<std::u16string> names = SplitNames(header.texts[7]);
  const uint32_t count = header.values[2];
  // A message that could not go out whole is not started: more attachments counted than
  // named, or an empty name among them.
  if (count > names.size()) return kEmailNotSent;
  if (std::any_of(names.begin(), names.begin() + count, [](const auto& n) { return n.empty(); }))
    return kEmailNotSent;

  if (Cancelled()) return kEmailCancelled;
  int32_t status = SendEmailHeader(header);
  if (status != kEmailAccepted) {
    Notice(kNoticeHeaderFailed);
    return status;
  }
  Notice(kNoticeHeaderAccepted);

  if (Cancelled()) return kEmailCancelled;
  status = SendEmailBody(header.bodyName, bodyFolder);
  if (status != kEmailAccepted) {
    Notice(kNoticeBodyFailed);
    return status;
  }
  Notice(kNoticeBodyAccepted);

  for (uint32_t i = 0; i < count; ++i) {
    if (Cancelled()) return kEmailCancelled;
    Notice(kNoticeAttachStart, i);
    status = SendEmailAttachFile(names[i], attachFolder);
    if (status != kEmailAccepted) {
      Notice(kNoticeAttachFailed, i);
      return status;
    }
    Notice(kNoticeAttachAccepted, i);
  }
  return kEmailAccepted;
}

std::shared_ptr<CEmailTransfer> CurrentEmailTransfer() {
  std::lock_guard lock(g_currentMutex);
  return g_current;
}

std::shared_ptr<CEmailTransfer> NewEmailTransfer() {
  auto fresh = std::make_shared<CEmailTransfer>();
  std::shared_ptr<CEmailTransfer> old;
  {
    std::lock_guard lock(g_currentMutex);
    old = std::exchange(g_current, fresh);
  }
  return fresh;
}

void DestroyEmailTransfer() {
  std::shared_ptr<CEmailTransfer> old;
  std::lock_guard lock(g_currentMutex);
  old = std::move(g_current);
}

}  // namespace kiv
