// Download: a PC file sent into a phone folder in pieces that fit the phone's packet size,
// and its resumed form, which sends only what lies behind a resume offset.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <optional>
#include <thread>

#include "platform/messages.hpp"
#include "link/phone_link.hpp"
#include "platform/text.hpp"
#include "platform/trace.hpp"
#include "protocol/pfileman.hpp"
#include "protocol/transfer_file.hpp"

namespace kiv {
namespace {

constexpr uint8_t kCmdDownloadPiece = 0x05;
constexpr uint8_t kCmdResumeAnnounce = 0x8E;
constexpr uint8_t kCmdResumePiece = 0x85;
constexpr uint8_t kResultRejected = 0x53;


// The local file's length, measured through a short-lived open; nullopt when the file
// cannot be opened or is too long for the protocol's 32-bit lengths.
std::optional<uint32_t> MeasureLocal(std::u16string_view path) {
  TransferFile probe;
  if (!probe.Open(path, TransferFile::Mode::Read)) return std::nullopt;
  int64_t length = probe.Length();
  if (length < 0 || length > int64_t{UINT32_MAX}) return std::nullopt;
  return static_cast<uint32_t>(length);
}

// "what PATH: the system's reason".
std::string LocalProblem(std::u16string_view path, const char* what) {
  const int error = errno;
  return std::string(what) + " " + U16ToUtf8(path) + (error ? std::string(": ") + std::strerror(error) : "");
}

}  // namespace

int CPFileMan::DownloadFile(std::u16string_view pcPath, std::u16string_view folder, std::u16string_view name,
                            uint32_t maxPacket, KivHwnd window) {
  Trace("CPFileMan::DownloadFile(LPCTSTR pszPath, LPCTSTR pDirName, LPCTSTR pFileName, DWORD dwMax,HWND hWnd) \n");
  m_byResult = 1;
  m_strFailure.clear();
  // The failures before the first piece that a resume cannot mend say why in m_strFailure.
  errno = 0;
  std::optional<uint32_t> length = MeasureLocal(pcPath);
  if (!length) {
    m_strFailure = Utf8ToU16(LocalProblem(pcPath, "cannot read the PC file"));
    return 0;
  }

  int64_t freeSpace = 0;
  if (!GetFreeSpace(folder, freeSpace)) return 0;
  if (freeSpace < static_cast<int64_t>(*length)) {
    m_strFailure = Utf8ToU16("the phone is full: " + std::to_string(freeSpace) + " bytes free, " +
                             std::to_string(*length) + " needed");
    return 0;
  }

  int64_t pieceSize = TransferPieceSize(maxPacket, folder.size(), name.size());
  if (pieceSize <= 0) {
    TraceF("CPFileMan::DownloadFile: packet size %u leaves no room for data\n", maxPacket);
    return 0;
  }
  PiecePlan plan = PlanPieces(*length, static_cast<uint32_t>(pieceSize));
  bAbortLoading.store(0, std::memory_order_relaxed);
  m_NextPiece.reset();
  TransferFile file;
  if (!file.Open(pcPath, TransferFile::Mode::Read)) {
    m_strFailure = Utf8ToU16(LocalProblem(pcPath, "cannot read the PC file"));
    return 0;
  }

  PhoneLink& link = Link();
  Progress progress;
  progress.text = name;
  uint32_t offset = 0;
  for (uint32_t i = 0; i < plan.count; ++i) {
    if (!link.IsConnected()) return 0;
    if (bAbortLoading.load(std::memory_order_relaxed)) {
      WaitScope wait(link, kWaitLong);
      AbortTransfer(folder, name, 1);
      return kDownloadCancelled;
    }
    const bool last = i + 1 == plan.count;
    const uint32_t pieceLength = last ? plan.last : plan.size;
    int sent = 0;
    {
      std::optional<WaitScope> wait;
      if (last) wait.emplace(link, kWait60s);
      sent = subDownload(file, pcPath, folder, name, *length, offset, i + 1, pieceLength, last ? 1 : 0, window);
    }
    if (sent <= 0) return sent == kDownloadRejected ? kDownloadRejected : 0;
    offset += pieceLength;
    progress.bytesDone = offset;
    SendProgress(window, progress);
  }
  return 1;
}

namespace {

// Packs a piece request into body with the piece's bytes read from the file behind the
// fields; false when the file cannot give them.
bool PackPiece(std::vector<uint8_t>& body, TransferFile& file, std::u16string_view folder,
               std::u16string_view name, uint32_t fileLength, uint32_t offset, uint32_t pieceNumber,
               uint32_t pieceLength) {
  int packed = Pack(body, pieceLength, "psddd", {folder, name, fileLength, offset, pieceNumber});
  if (pieceLength == 0) return true;
  return file.Seek(offset) && file.ReadExact(std::span<uint8_t>(body.data() + packed, pieceLength));
}

// Whether a failed exchange failed because the phone answered with result byte code
// (rather than by a lost link, a refusal or a missing body).
bool AnsweredWith(const CPFileMan& man, const CGenPacket& answer, uint8_t code) {
  if (man.m_nError != CM_RET_SUCCESS || !answer.GetData()) return false;
  if (answer.GetClass() == kRefusedClass && answer.GetCode() == kRefusedCode) return false;
  return answer.GetData()[0] == code;
}

}  // namespace

int CPFileMan::SendPiece(uint8_t code, TransferFile& file, std::u16string_view folder, std::u16string_view name,
                         uint32_t fileLength, uint32_t offset, uint32_t pieceNumber, uint32_t pieceLength, int last,
                         CGenPacket& answer) {
  const std::array<uint32_t, 3> piece{offset, pieceNumber, pieceLength};
  if (m_NextPiece == piece) {
    m_PieceBody.swap(m_NextPieceBody);
  } else if (!PackPiece(m_PieceBody, file, folder, name, fileLength, offset, pieceNumber, pieceLength)) {
    return 0;
  }
  m_NextPiece.reset();
  if (!SendRequest(code, m_PieceBody, TransactOptions{0, last ? 1 : 0})) return 0;
  // Every piece but the last is as long as this one. A piece that cannot be packed now is
  // packed again in its turn, and fails there.
  const uint32_t nextOffset = offset + pieceLength;
  if (!last && nextOffset < fileLength) {
    const std::array<uint32_t, 3> next{nextOffset, pieceNumber + 1, std::min(pieceLength, fileLength - nextOffset)};
    if (PackPiece(m_NextPieceBody, file, folder, name, fileLength, next[0], next[1], next[2])) m_NextPiece = next;
  }
  return ReadAnswer(answer, true);
}

int CPFileMan::subDownload(TransferFile& file, std::u16string_view, std::u16string_view folder,
                           std::u16string_view name, uint32_t fileLength, uint32_t offset, uint32_t pieceNumber,
                           uint32_t pieceLength, int last, KivHwnd) {
  CGenPacket answer;
  if (SendPiece(kCmdDownloadPiece, file, folder, name, fileLength, offset, pieceNumber, pieceLength, last, answer))
    return 1;
  return AnsweredWith(*this, answer, kResultRejected) ? kDownloadRejected : 0;
}

int CPFileMan::ResumeAutoDownload(std::u16string_view pcPath, std::u16string_view folder, std::u16string_view name,
                                  uint32_t, uint32_t maxPacket, uint32_t resumeOffset, KivHwnd window) {
  Trace(
      "CPFileMan::ResumeAutoDownload(LPCTSTR pszPath, LPCTSTR pDirName, LPCTSTR pFileName, DWORD dwUnused, DWORD "
      "dwMax, DWORD dwOffset, HWND hWnd) \n");
  if (m_nVersion < 3) return 0;
  std::optional<uint32_t> length = MeasureLocal(pcPath);
  if (!length || *length <= resumeOffset) return 0;

  int64_t pieceSize = TransferPieceSize(maxPacket, folder.size(), name.size());
  if (pieceSize <= 0) {
    TraceF("CPFileMan::ResumeAutoDownload: packet size %u leaves no room for data\n", maxPacket);
    return 0;
  }
  PiecePlan plan = PlanPieces(*length - resumeOffset, static_cast<uint32_t>(pieceSize));
  bAbortLoading.store(0, std::memory_order_relaxed);
  m_NextPiece.reset();
  TransferFile file;
  if (!file.Open(pcPath, TransferFile::Mode::Read)) return 0;

  PhoneLink& link = Link();
  {
    // The announcement's body is as long as a piece request's texts plus one piece; the
    // room behind the packed fields is zero-filled. Pieces under 12 bytes cut the numbers
    // short; the phone reads what the body holds.
    std::size_t packed = static_cast<std::size_t>(
        Pack(m_PieceBody, plan.size, "psddd", {folder, name, *length, resumeOffset, plan.count}));
    std::size_t bodyLength = packed - 12 + plan.size;
    CGenPacket request(static_cast<uint8_t>(m_nPacketClass), kCmdResumeAnnounce, 1, link.GetNextSeqNum(), 0,
                       m_PieceBody.data(), static_cast<uint16_t>(bodyLength));
    if (link.PktSend(request) == 0) return 0;
    // The phone sends no answer to the announcement.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  uint32_t offset = resumeOffset;
  for (uint32_t i = 0; i < plan.count; ++i) {
    if (!link.IsConnected()) return 0;
    if (bAbortLoading.load(std::memory_order_relaxed)) {
      WaitScope wait(link, kWaitLong);
      AbortTransfer(folder, name, 1);
      return 0;
    }
    const bool last = i + 1 == plan.count;
    const uint32_t pieceLength = last ? plan.last : plan.size;
    std::optional<WaitScope> wait;
    if (last) wait.emplace(link, kWait60s);
    if (!ResumeSubDownload(file, pcPath, folder, name, *length, offset, i + 2, pieceLength, last ? 1 : 0,
                           resumeOffset, window))
      return 0;
    offset += pieceLength;
  }
  m_byResult = 1;
  return 1;
}

int CPFileMan::ResumeSubDownload(TransferFile& file, std::u16string_view, std::u16string_view folder,
                                 std::u16string_view name, uint32_t fileLength, uint32_t offset, uint32_t pieceNumber,
                                 uint32_t pieceLength, int last, uint32_t, KivHwnd window) {
  CGenPacket answer;
  if (!SendPiece(kCmdResumePiece, file, folder, name, fileLength, offset, pieceNumber, pieceLength, last, answer))
    return 0;
  // A resumed piece reports where it started.
  Progress progress;
  progress.text = name;
  progress.bytesDone = offset;
  SendProgress(window, progress);
  return 1;
}

}  // namespace kiv
