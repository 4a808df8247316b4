#include "protocol/backup_commands.hpp"

#include <chrono>
#include <optional>
#include <thread>

#include "link/backup_file.hpp"
#include "link/phone_link.hpp"
#include "platform/messages.hpp"
#include "platform/text.hpp"
#include "platform/trace.hpp"
#include "protocol/answer_reader.hpp"
#include "protocol/pfileman.hpp"
#include "protocol/transfer_file.hpp"

namespace kiv {
namespace {

constexpr uint8_t kCmdFirstDirectory = 0x12;
constexpr uint8_t kCmdNextDirectory = 0x13;
constexpr uint8_t kCmdFolderFiles = 0x14;
constexpr uint8_t kCmdFolderFilesNext = 0x15;
constexpr uint8_t kCmdInitPhone = 0x16;
constexpr uint8_t kCmdCreateFolder = 0x0B;
constexpr uint8_t kCmdUploadStart = 0x06;
constexpr uint8_t kCmdUploadAck = 0x20;
constexpr uint8_t kCmdDownloadPiece = 0x05;
constexpr uint8_t kCmdInfo = 0x01;
constexpr uint8_t kInfoClass = 0x25;
constexpr uint8_t kCmdCheckPass = 0x23;
constexpr uint8_t kPassClass = 0x00;
constexpr uint8_t kPassAccepted = 0x41;
constexpr uint8_t kResultLast = 0x58;
constexpr uint8_t kCodeLastPiece = 0xC6;
constexpr std::size_t kFolderFilesText = 9;
constexpr std::size_t kMaxListUnits = std::size_t{1} << 24;


// UTF-16LE units from offset up to a 0 unit or the end of the body.
std::u16string TextToEnd(std::span<const uint8_t> body, std::size_t offset) {
  std::u16string out;
  for (std::size_t i = offset; i + 1 < body.size(); i += 2) {
    char16_t c = static_cast<char16_t>(body[i] | (body[i + 1] << 8));
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

std::size_t EchoedTextBytes(std::u16string_view folder, std::u16string_view name) {
  return 2 * (folder.size() + name.size()) + 6;
}

void Log(const char* line) { TraceF("%s\n", line); }

void SleepFor(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

int CBackupToolCommands::Directory(uint8_t code, const char* what, std::u16string& name, int& last) {
  session_.SetResult(1);
  name.clear();
  CGenPacket answer;
  if (!session_.Transact(code, std::span<const uint8_t>(), answer)) {
    TraceF("[%s] the phone gave no directory\n", what);
    return 0;
  }
  AnswerReader r(answer);
  uint8_t bytes = 0;
  if (!r.Byte(bytes)) return 0;
  std::span<const uint8_t> rest = r.Rest();
  const std::size_t units = bytes / 2u;
  if (rest.size() < 2 * units) return 0;
  for (std::size_t i = 0; i < units; ++i) name.push_back(static_cast<char16_t>(rest[2 * i] | (rest[2 * i + 1] << 8)));
  if (answer.Body()[0] == kResultLast) last = 1;
  return 1;
}

int CBackupToolCommands::BACKUPTOOL_GetFirstDirectory(std::u16string& name, int& last) {
  return Directory(kCmdFirstDirectory, "BACKUPTOOL_GetFirstDirectory()", name, last);
}

int CBackupToolCommands::BACKUPTOOL_GetNextDirectory(std::u16string& name, int& last) {
  return Directory(kCmdNextDirectory, "BACKUPTOOL_GetNextDirectory()", name, last);
}

int CBackupToolCommands::FolderFilesPage(uint8_t code, std::u16string_view folder, std::u16string& text,
                                         uint16_t* count) {
  const bool onCard = !extraMemoryName_.empty() && folder.find(extraMemoryName_) != std::u16string_view::npos;
  if (onCard) SleepFor(200);
  std::vector<uint8_t> body;
  Pack(body, 0, session_.Version() >= 2 ? "P" : "p", {folder});
  CGenPacket answer;
  if (!session_.Transact(code, body, answer, {.timeoutMs = kWait30s})) return 0;
  if (count) {
    AnswerReader r(answer, 5);
    if (!r.U16(*count)) return 0;
  }
  text += TextToEnd(answer.Body(), kFolderFilesText);
  return answer.Body()[0] == kResultLast ? 2 : 1;
}

int CBackupToolCommands::BACKUPTOOL_GetFolderFiles(std::u16string_view folder, int& count,
                                                  std::vector<std::u16string>& names) {
  session_.SetResult(1);
  TraceF("[BACKUPTOOL_GetFolderFiles()] %s\n", U16ToUtf8(folder).c_str());
  if (!extraMemoryName_.empty() && folder.find(extraMemoryName_) != std::u16string_view::npos) SleepFor(4);
  std::u16string text;
  uint16_t announced = 0;
  int page = FolderFilesPage(kCmdFolderFiles, folder, text, &announced);
  // Pages until the one the phone marks as the last; every page was the phone's answer to the
  // previous one, so a phone that never marks one ends when the link does.
  while (page == 1) {
    text += u':';
    const std::size_t before = text.size();
    page = FolderFilesPage(kCmdFolderFilesNext, folder, text, nullptr);
    // A page that is neither the last nor carries a name, or a list past any folder's size,
    // is a phone that would keep the walk going for ever.
    if (page == 1 && (text.size() == before || text.size() > kMaxListUnits)) page = 0;
  }
  if (page == 0) {
    Log("[BACKUPTOOL_GetFolderFiles()] the list failed");
    return 0;
  }
  count = announced;
  // An empty folder answers an empty text; a name is never empty.
  for (auto& piece : SplitAny(text, u":"))
    if (!piece.empty()) names.emplace_back(piece);
  return 1;
}

int CBackupToolCommands::BACKUPTOOL_InitPhone() {
  session_.SetResult(1);
  CGenPacket answer;
  if (!session_.Transact(kCmdInitPhone, std::span<const uint8_t>(), answer)) return 0;
  return answer.Body()[0] == kResultLast ? 0 : 1;
}

int CBackupToolCommands::BACKUPTOOL_GetBackupToolVersion(std::u16string_view xmlPath) {
  session_.SetResult(1);
  CGenPacket answer;
  if (!session_.Transact(kCmdInfo, std::span<const uint8_t>(), answer, {.cls = kInfoClass, .classify = false}))
    return 0;
  // The document follows the result byte as UTF-16LE; it is stored as UTF-8 with a byte
  // order mark.
  std::string bytes = "\xEF\xBB\xBF" + U16ToUtf8(TextToEnd(answer.Body(), 1));
  TransferFile file;
  if (!file.Open(xmlPath, TransferFile::Mode::CreateOrKeep) || !file.SetLength(0)) {
    Log("CPFileMan::BACKUPTOOL_GetBackupToolVersion : !XMLFile.Open");
    return 0;
  }
  auto data = std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  if (!file.Write(data) || !file.Flush()) return 0;
  file.Close();
  return 1;
}

int CBackupToolCommands::BACKUPTOOL_CreateFolder(std::u16string_view path) {
  session_.SetResult(1);
  CGenPacket answer;
  return session_.Transact(kCmdCreateFolder, "p", {path}, answer);
}

int CBackupToolCommands::BACKUPTOOL_CheckPass(std::u16string_view password) {
  session_.SetResult(1);
  std::vector<uint8_t> body;
  Pack(body, 0, "s", {password});
  body.erase(body.begin());  // the text and its NUL, without the length byte
  CGenPacket answer;
  if (!session_.Transact(kCmdCheckPass, body, answer, {.cls = kPassClass, .classify = false})) return 0;
  return answer.GetCode() == kPassAccepted ? 1 : 0;
}

int CBackupToolCommands::BackupToolConfig() { return CurrentLink().SetBackupTool(); }

// ---- Phone to backup file -------------------------------------------------------------------

int CBackupToolCommands::BACKUPTOOL_UploadFile(std::u16string_view folder, std::u16string_view name,
                                               KivHwnd window, int32_t& handle) {
  session_.SetResult(1);
  WaitScope wait(CurrentLink(), kWait60s);
  Pack(body_, 0, "ps", {folder, name});
  if (!session_.SendRequest(kCmdUploadStart, body_)) return 0;
  int result = BACKUPTOOL_SubUpload(folder, name, window, handle);
  FirstPieceFlag().store(1, std::memory_order_relaxed);
  return result;
}

int CBackupToolCommands::BACKUPTOOL_SubUpload(std::u16string_view folder, std::u16string_view name,
                                              KivHwnd window, int32_t& handle) {
  std::atomic<int32_t>& abort = session_.AbortFlag();
  abort.store(0, std::memory_order_relaxed);
  PhoneLink& link = CurrentLink();
  const std::size_t echoed = EchoedTextBytes(folder, name);
  Progress progress;
  progress.text = name;
  CGenPacket answer;
  uint32_t written = 0;
  for (;;) {
    if (!session_.ReadAnswer(answer)) {
      if (session_.Error() != CM_RET_SUCCESS) Log("[BACKUPTOOL_SubUpload()] m_nError!=CM_RET_SUCCESS");
      else Log("[BACKUPTOOL_SubUpload()] !bGetRetCode(resPkt.GetResult()");
      return 0;
    }
    if (!link.IsConnected()) {
      Log("[BACKUPTOOL_SubUpload()] !IsConnected()");
      return 0;
    }
    if (abort.load(std::memory_order_relaxed)) {
      Log("[BACKUPTOOL_SubUpload()] bAbortLoading(canceled)");
      session_.AbortTransfer(folder, name, 0);
      return 0;
    }
    AnswerReader reader(answer, 1 + echoed);
    uint32_t total = 0, offset = 0, third = 0;
    if (!reader.U32(total) || !reader.U32(offset) || !reader.U32(third)) {
      Log("[BACKUPTOOL_SubUpload()] the piece answer is too short");
      return 0;
    }
    std::span<const uint8_t> piece = reader.Rest();
    // Pieces must continue the content where it stands and move it on (or end it).
    if (offset != written || (piece.empty() && offset < total && answer.GetCode() != kCodeLastPiece)) {
      Log("[BACKUPTOOL_SubUpload()] the piece does not continue the file");
      return 0;
    }
    if (FirstPieceFlag().load(std::memory_order_relaxed)) {
      BackupEntryRecord entry;
      std::u16string path = std::u16string(folder) + u'\\' + std::u16string(name);
      if (!BackupEntryRecord::Make(kBackupKindFile, total, path, entry) ||
          !BACKUP_WriteBackupFileInfo(handle, entry)) {
        Log("[BACKUPTOOL_SubUpload()] !BACKUP_WriteBackupFileInfo");
        BACKUP_CloseBackupDataFile(handle, kBackupCloseFailed);
        handle = kBackupInvalidHandle;
        return 0;
      }
      FirstPieceFlag().store(0, std::memory_order_relaxed);
    }
    if (!BACKUP_WriteBackupFileStream(handle, piece.data(), static_cast<uint32_t>(piece.size()))) {
      Log("[BACKUPTOOL_SubUpload()] !BACKUP_WriteBackupFileStream");
      return 0;
    }
    const uint64_t received = uint64_t{offset} + piece.size();
    written = static_cast<uint32_t>(received);
    if (received >= total || answer.GetCode() == kCodeLastPiece) return 1;
    Pack(body_, 0, "psddd", {folder, name, total, static_cast<uint32_t>(received), third});
    if (!session_.SendRequest(kCmdUploadAck, body_)) return 0;
    progress.bytesDone = static_cast<uint32_t>(received);
    SendProgress(window, progress);
  }
}

// ---- Backup file to phone -------------------------------------------------------------------

int CBackupToolCommands::BACKUPTOOL_DownloadFile(std::u16string_view folder, std::u16string_view name,
                                                 uint32_t sizeLimit, KivHwnd window, int32_t& handle,
                                                 uint32_t fileLength) {
  session_.SetResult(1);
  auto fail = [&](int result) {
    BACKUP_CloseBackupDataFile(handle, kBackupCloseOk);
    handle = kBackupInvalidHandle;
    return result;
  };
  const int64_t pieceSize = TransferPieceSize(sizeLimit, folder.size(), name.size());
  if (pieceSize <= 0) {
    TraceF("[BACKUPTOOL_DownloadFile()] packet size %u leaves no room for data\n", sizeLimit);
    return fail(0);
  }
  const PiecePlan plan = PlanPieces(fileLength, static_cast<uint32_t>(pieceSize));
  std::atomic<int32_t>& abort = session_.AbortFlag();
  abort.store(0, std::memory_order_relaxed);
  PhoneLink& link = CurrentLink();
  uint32_t offset = 0;
  for (uint32_t i = 0; i < plan.count; ++i) {
    if (!link.IsConnected()) {
      Log("[BACKUPTOOL_DownloadFile()] !IsConnected() ");
      return fail(0);
    }
    if (abort.load(std::memory_order_relaxed)) {
      Log("[BACKUPTOOL_DownloadFile()] bAbortLoading (canceled) ");
      WaitScope wait(link, kWaitLong);
      session_.AbortTransfer(folder, name, 1);
      return fail(0);
    }
    const bool last = i + 1 == plan.count;
    const uint32_t pieceLength = fileLength == 0 ? 0 : (last ? plan.last : plan.size);
    int sent = 0;
    {
      std::optional<WaitScope> wait;
      if (last) wait.emplace(link, kWait60s);
      sent = BACKUPTOOL_SubDownload(folder, name, handle, fileLength, offset, i + 1, pieceLength, last ? 1 : 0,
                                    window);
    }
    if (sent != 1) return fail(sent);
    offset += pieceLength;
  }
  return 1;
}

int CBackupToolCommands::BACKUPTOOL_SubDownload(std::u16string_view folder, std::u16string_view name,
                                                int32_t handle, uint32_t fileLength, uint32_t offset,
                                                uint32_t pieceNumber, uint32_t pieceLength, int last,
                                                KivHwnd window) {
  const int packed = Pack(body_, pieceLength, "psddd", {folder, name, fileLength, offset, pieceNumber});
  if (pieceLength) {
    uint32_t read = 0;
    // Only bytes read from the backup file go out: a file that ends early fails the piece.
    if (!BACKUP_ReadBackupFileStream(handle, body_.data() + packed, pieceLength, &read) || read != pieceLength) {
      Log("[BACKUPTOOL_SubDownload()] the backup file ended early");
      return 0;
    }
  }
  CGenPacket answer;
  if (!session_.Transact(kCmdDownloadPiece, std::span<const uint8_t>(body_.data(), packed + pieceLength), answer,
                         {.flag = last})) {
    const bool refused = answer.GetClass() == kRefusedClass && answer.GetCode() == kRefusedCode;
    if (session_.Error() == CM_RET_SUCCESS && !refused && answer.GetData() &&
        answer.Body()[0] == RET_FILE_FAIL_NOFREESPACE) {
      Log("[BACKUPTOOL_SubDownload()] RET_FILE_FAIL_NOFREESPACE ");
      return kBackupPhoneFull;
    }
    return 0;
  }
  Progress progress;
  progress.text = name;
  progress.bytesDone = offset;
  SendProgress(window, progress);
  return 1;
}

}  // namespace kiv
