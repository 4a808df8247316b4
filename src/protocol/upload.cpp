// Upload: a phone file copied into a local file. The phone drives it: the PC asks once, the
// phone answers with the first piece, and every acknowledgement names how far the PC got
// until the phone marks the last piece.
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "platform/local_names.hpp"
#include "platform/messages.hpp"
#include "link/phone_link.hpp"
#include "platform/text.hpp"
#include "platform/trace.hpp"
#include "protocol/answer_reader.hpp"
#include "protocol/pfileman.hpp"
#include "protocol/transfer_file.hpp"

namespace kiv {
namespace {

constexpr uint8_t kCmdUploadStart = 0x06;
constexpr uint8_t kCmdUploadAck = 0x20;
constexpr uint8_t kCmdQueryFile = 0x0E;
constexpr uint8_t kCodeLastPiece = 0xC6;

// Bytes of the echoed folder ('p') and name ('s') fields in a piece answer.
std::size_t EchoedTextBytes(std::u16string_view folder, std::u16string_view name) {
  return 2 * (folder.size() + name.size()) + 6;
}

std::string LocalErrorText(std::u16string_view path, const char* what) {
  return std::string(what) + " " + U16ToUtf8(path) + ": " + std::strerror(errno);
}

}  // namespace

int CPFileMan::UploadFile(std::u16string_view pcPath, std::u16string_view folder, std::u16string_view name,
                          KivHwnd window) {
  Trace("CPFileMan::UploadFile(LPCTSTR pszPath,LPCTSTR pDirName,LPCTSTR pFileName,HWND hWnd) called \n");
  m_byResult = 1;
  m_strFailure.clear();
  PhoneLink& link = Link();
  std::vector<uint8_t> body;
  Pack(body, 0, "ps", {folder, name});
  CGenPacket start(static_cast<uint8_t>(m_nPacketClass), kCmdUploadStart, 1, link.GetNextSeqNum(), 0, body.data(),
                   static_cast<uint16_t>(body.size()));

  // One answer wait covers the whole upload; it is put back on every way out, also when a
  // local file error leaves as an exception.
  struct Wait {
    PhoneLink& link;
    uint32_t saved;
    ~Wait() { link.SetReqTimeout(saved); }
  } wait{link, link.GetReqTimeout()};
  link.SetReqTimeout(kWait60s);
  if (link.PktSend(start) == 0) return 0;

  // The copy goes into a new temporary file beside the target, renamed over it only when
  // complete: a failed or cancelled copy leaves an older file untouched and nothing under
  // the final name. A file that cannot be made leaves the phone's first answer unread.
  if (LocalIsDirectory(pcPath)) {
    m_strFailure = u"the PC target " + std::u16string(pcPath) + u" is a folder";
    return 0;
  }
  // A name taken already (left by an earlier process of the same id) gives way to the next.
  constexpr int kNameTries = 8;
  std::u16string part;
  TransferFile file;
  for (int attempt = 0; attempt < kNameTries && !file.IsOpen(); ++attempt) {
    part = LocalTemporaryBeside(pcPath);
    errno = 0;
    if (!file.Open(part, TransferFile::Mode::CreateNew) && errno != EEXIST) break;
  }
  if (!file.IsOpen()) {
    std::u16string_view folder = part;
    folder.remove_suffix(LocalFileName(part).size());
    if (folder.size() > 1 && (folder.back() == u'\\' || folder.back() == u'/')) folder.remove_suffix(1);
    m_strFailure = Utf8ToU16(LocalErrorText(folder.empty() ? part : folder, "cannot write a file into the PC folder"));
    return 0;
  }
  struct Temporary {
    std::u16string path;
    bool renamed = false;
    ~Temporary() {
      if (!renamed) LocalRemove(path);
    }
  } temporary{part};
  int result = SubUpload(file, folder, name, window);
  if (!file.Flush()) throw LocalFileError(LocalErrorText(pcPath, "cannot write"));
  file.Close();
  if (result) {
    if (!LocalReplace(part, pcPath)) {
      m_strFailure = Utf8ToU16(LocalErrorText(pcPath, "cannot put the copy in place as"));
      return 0;
    }
    temporary.renamed = true;
  }
  Trace("CPFileMan::UploadFile(LPCTSTR pszPath,LPCTSTR pDirName,LPCTSTR pFileName,HWND hWnd) return \n");
  return result;
}

int CPFileMan::SubUpload(TransferFile& file, std::u16string_view folder, std::u16string_view name, KivHwnd window) {
  Trace("CPFileMan::SubUpload(CFile &f, LPCTSTR pDirName,LPCTSTR pFileName,HWND hWnd) \n");
  bAbortLoading.store(0, std::memory_order_relaxed);
  PhoneLink& link = Link();
  const std::size_t echoed = EchoedTextBytes(folder, name);
  Progress progress;
  progress.text = std::u16string(folder) + u'\\' + std::u16string(name);
  CGenPacket answer;
  if (!ReadAnswer(answer)) return 0;
  // The length the first piece announces; every piece must start where the bytes received
  // so far end and stay within it. A phone that repeats, skips, overlaps or overruns fails
  // the copy instead of making a file of wrong bytes.
  std::optional<uint32_t> announced;
  uint64_t received = 0;
  for (;;) {
    if (!link.IsConnected()) return 0;
    if (bAbortLoading.load(std::memory_order_relaxed)) {
      AbortTransfer(folder, name, 0);
      return 0;
    }
    AnswerReader reader(answer, 1 + echoed);
    uint32_t total = 0, offset = 0, third = 0;
    if (!reader.U32(total) || !reader.U32(offset) || !reader.U32(third)) {
      m_strFailure = u"the phone sent a damaged piece (shorter than its fields)";
      return 0;
    }
    std::span<const uint8_t> piece = reader.Rest();
    if (!announced) announced = total;
    const bool lastMark = answer.GetCode() == kCodeLastPiece;
    const uint64_t end = uint64_t{offset} + piece.size();
    const bool ends = end >= *announced || lastMark;
    std::string damage;
    if (total != *announced)
      damage = "its length changed from " + std::to_string(*announced) + " to " + std::to_string(total);
    else if (offset != received)
      damage = "it starts at " + std::to_string(offset) + " instead of " + std::to_string(received);
    else if (end > *announced)
      damage = "it ends at " + std::to_string(end) + ", past the announced length " + std::to_string(*announced);
    else if (piece.empty() && !ends)
      damage = "it is empty at " + std::to_string(offset);
    if (!damage.empty()) {
      m_strFailure = Utf8ToU16("the phone sent a damaged piece: " + damage);
      AbortTransfer(folder, name, 0);
      return 0;
    }
    if (!file.Write(piece)) throw LocalFileError(std::string("cannot write to the local file: ") + std::strerror(errno));
    received = end;
    progress.bytesDone = static_cast<uint32_t>(received);
    SendProgress(window, progress);
    if (ends) return 1;
    // The acknowledgement's body reuses the storage of the previous one.
    Pack(m_PieceBody, 0, "psddd", {folder, name, total, static_cast<uint32_t>(received), third});
    if (!Transact(kCmdUploadAck, m_PieceBody, answer)) return 0;
  }
}

int CPFileMan::QueryFile(uint32_t, std::u16string_view folder, std::u16string_view name, uint32_t length,
                         uint32_t& out) {
  CGenPacket answer;
  if (!Transact(kCmdQueryFile, "psddd", {folder, name, length, 0u, 0u}, answer)) return 0;
  AnswerReader reader(answer);
  for (int text = 0; text < 2; ++text) {
    uint8_t units = 0;
    if (!reader.Byte(units) || !reader.Skip(2u * units)) return 0;
  }
  uint32_t first = 0, second = 0, third = 0;
  if (!reader.U32(first) || !reader.U32(second) || !reader.U32(third)) return 0;
  out = second;
  return 1;
}

}  // namespace kiv
