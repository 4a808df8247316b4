// The protocol object: the library's only speaker of the phone protocol. It opens and
// closes the link, runs the session handshake and carries every command as request/answer
// transactions.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kivmod/kivmod.h"
#include "link/packet.hpp"
#include "protocol/codec.hpp"
#include "protocol/transactions.hpp"
#include "protocol/type_array.hpp"

namespace kiv {

class PhoneLink;
class TransferFile;  // protocol/transfer_file.hpp, for the file transfers

// One entry of a binary folder listing.
struct PhoneListEntry {
  std::u16string m_strName;
  uint32_t m_nFlags = 0;  // kEntryFile or kEntryFolder, plus kEntryMarkS on a file marked "S"
};
inline constexpr uint32_t kEntryFile = 1;
inline constexpr uint32_t kEntryFolder = 2;
inline constexpr uint32_t kEntryMarkS = 4;

// Phone time (year, month, day, hour, minute, second) to a time value; the current time
// when the stamp is empty or out of range.
uint32_t PhoneTimeToTime(std::span<const uint8_t, 8> stamp);

// One top-level folder as the phone names it: its access mode (1 copy to the PC, 2 write,
// 3 both; read only by the oldest protocol) and its extensions (empty: every type).
struct RootFolderEntry {
  std::u16string name;
  int mode = 0;
  std::vector<std::u16string> types;
};

// Limits of one phone memory, learnt at connection.
struct MemoryRecord {
  uint32_t maxFileName = 0;
  uint32_t maxFolderName = 0;
  uint32_t maxPath = 0;
  uint32_t maxDepth = 1;
};

// The module-wide first-piece flag of the backup agent's transfers; Abort sets it.
std::atomic<int32_t>& FirstPieceFlag();

class CPFileMan final : public Transactions {
 public:
  CPFileMan();
  ~CPFileMan();
  CPFileMan(const CPFileMan&) = delete;
  CPFileMan& operator=(const CPFileMan&) = delete;

  // Link operations.
  int Connect(int port, int rate, KivHwnd window, int method);
  void Disconnect();
  bool BTConnect(const uint8_t address[6], int method, KivHwnd window, int mode);
  bool BTDisconnect(int mode);
  void Abort();
  void ResetFlags() { m_bRefused = 0; }
  bool IsSubfolderCapable();
  void SetUnicode(int32_t value);

  std::u16string GetModelName();
  int OpenSession(std::u16string_view text, uint32_t& maxPacketSize, MemoryRecord& internal,
                  MemoryRecord& external, std::u16string& nameBuffer, TypeArray& managerTypes);
  int GetRootFolders(std::vector<RootFolderEntry>& folders, std::u16string& rootList);

  int Classify(uint8_t result) override;
  uint8_t GetResult() const { return m_byResult; }
  const KivTypeArray* GetSupportTypes() const { return m_SupportTypes.View(); }
  static int GetNameLength(std::u16string_view text) { return static_cast<int>(text.size()); }

  // The exchange itself (see Transactions).
  using Transactions::Transact;
  int Transact(uint8_t code, std::span<const uint8_t> body, CGenPacket& answer,
               const TransactOptions& options = {}) override;
  int SendRequest(uint8_t code, std::span<const uint8_t> body, const TransactOptions& options = {}) override;
  int ReadAnswer(CGenPacket& answer, bool classify = true) override;
  std::atomic<int32_t>& AbortFlag() override { return bAbortLoading; }
  uint8_t Result() const override { return m_byResult; }
  void SetResult(uint8_t result) override { m_byResult = result; }
  int Error() const override { return m_nError; }
  int32_t Version() const override { return m_nVersion; }

  // ---- Listing ----
  // Appends the folder's entries, read in pages sized from answerCapacity and
  // nameAllowance. Entries of pages already received stay when a later page fails.
  int GetFolderList(std::u16string_view folder, std::vector<PhoneListEntry>& entries, uint32_t answerCapacity,
                    uint32_t nameAllowance);
  // Details of folder\name, or of the folder itself when name is empty. size may be null.
  int GetFileInfo(std::u16string_view folder, std::u16string_view name, int32_t* size, uint32_t& time1,
                  uint32_t& time2, uint32_t& time3, uint32_t& attributes);
  // The folder's XML listing, written to the work file TempXML (m_strTempXmlPath).
  int GetXmlFolderList(std::u16string_view folder, uint32_t unused1 = 0, uint32_t unused2 = 0, uint32_t unused3 = 0);

  // ---- Changes to one entry ----
  // toPhone: nonzero for a transfer to the phone.
  int AbortTransfer(std::u16string_view folder, std::u16string_view name, int toPhone) override;
  int DeleteFile(std::u16string_view folder, std::u16string_view name);
  int RenameFile(std::u16string_view folder, std::u16string_view oldName, std::u16string_view newName);
  int CreateFolder(std::u16string_view path);
  int CopyPhoneFile(std::u16string_view folder, std::u16string_view name, std::u16string_view target);
  int MovePhoneFile(std::u16string_view folder, std::u16string_view name, std::u16string_view target);
  // How much of the file the phone holds already (protocol version 3 or later).
  int ExistFileCheck(uint32_t unused, std::u16string_view folder, std::u16string_view name, uint32_t length,
                     uint32_t& out);

  // ---- Space of the memory that holds a path; out is untouched on failure ----
  int GetFreeSpace(std::u16string_view path, int64_t& out);
  int GetTotalSpace(std::u16string_view path, int64_t& out);

  // ---- File transfers: upload (phone to PC) and download (PC to phone) ----
  // Local paths are the host's UTF-16 paths; folders are phone folder paths with "\\"
  // separators; names are bare file names. A local file error while an upload prepares or
  // writes its file is thrown as LocalFileError (protocol/transfer_file.hpp).

  // Results of DownloadFile besides 1 and 0.
  static constexpr int kDownloadRejected = -7;   // the phone answered a piece with 0x53
  static constexpr int kDownloadCancelled = -9;  // cancelled; the phone was told

  // Copies the phone file folder\name to pcPath: 1 copied, 0 failed or cancelled. The copy
  // is written beside pcPath under a temporary name and renamed over it when complete, so
  // a failure leaves pcPath as it was. Each piece must start at the bytes received so far
  // and end within the length the first one announced; the last-piece mark ends a copy.
  int UploadFile(std::u16string_view pcPath, std::u16string_view folder, std::u16string_view name, KivHwnd window);
  // The piece loop of an upload, after the start request was sent.
  int SubUpload(TransferFile& file, std::u16string_view folder, std::u16string_view name, KivHwnd window);
  // Asks the phone about one file; 1 when it answers with a success code, and the answer's
  // second number in out.
  int QueryFile(uint32_t unused, std::u16string_view folder, std::u16string_view name, uint32_t length,
                uint32_t& out);

  // Sends the PC file pcPath as folder\name: 1 sent, 0 failed, kDownloadRejected when the
  // phone answered a piece with 0x53, kDownloadCancelled after a cancel.
  int DownloadFile(std::u16string_view pcPath, std::u16string_view folder, std::u16string_view name,
                   uint32_t maxPacket, KivHwnd window);
  // One piece of a download: 1, 0, or kDownloadRejected.
  int subDownload(TransferFile& file, std::u16string_view pcPath, std::u16string_view folder,
                  std::u16string_view name, uint32_t fileLength, uint32_t offset, uint32_t pieceNumber,
                  uint32_t pieceLength, int last, KivHwnd window);
  // Sends one piece (code 0x05 or 0x85) and reads its answer: 1 when the phone took it.
  // While the phone works, the next piece is read and packed.
  int SendPiece(uint8_t code, TransferFile& file, std::u16string_view folder, std::u16string_view name,
                uint32_t fileLength, uint32_t offset, uint32_t pieceNumber, uint32_t pieceLength, int last,
                CGenPacket& answer);
  // Sends the PC file from resumeOffset on (protocol version 3 or later): 1 or 0.
  int ResumeAutoDownload(std::u16string_view pcPath, std::u16string_view folder, std::u16string_view name,
                         uint32_t unused, uint32_t maxPacket, uint32_t resumeOffset, KivHwnd window);
  // One piece of a resumed download: 1 or 0.
  int ResumeSubDownload(TransferFile& file, std::u16string_view pcPath, std::u16string_view folder,
                        std::u16string_view name, uint32_t fileLength, uint32_t offset, uint32_t pieceNumber,
                        uint32_t pieceLength, int last, uint32_t resumeOffset, KivHwnd window);

  // Why the last transfer failed when the PC side or a damaged piece is the cause (the
  // local path and the system's reason, or what was wrong with the piece); empty when the
  // link, the phone's answer or a cancel ended it.
  std::u16string m_strFailure;

  // Request body of the piece being sent, kept so that its storage serves every piece.
  std::vector<uint8_t> m_PieceBody;
  // The next piece's request body, packed while the phone works on the piece before, and
  // which piece it is (offset, number, length). A transfer clears it when it starts.
  std::vector<uint8_t> m_NextPieceBody;
  std::optional<std::array<uint32_t, 3>> m_NextPiece;
  // ---- end of file transfers ----

  // Fields.
  int32_t m_bRefused = 0;
  std::array<uint8_t, 6> m_BTAddress{};
  std::atomic<int32_t> bAbortLoading{0};
  TypeArray m_SupportTypes;
  int32_t m_nPacketClass = kPacketClass;
  int m_nError = 0;
  uint8_t m_byResult = 1;
  std::u16string m_strTempXmlPath;
  uint8_t m_byVersion = 0;
  std::u16string m_strExtraMemoryName;
  int32_t m_nVersion = 0;

 private:
  PhoneLink& Link();
  CGenPacket MakeRequest(uint8_t code, std::span<const uint8_t> body, const TransactOptions& options);
  int CheckAnswer(const CGenPacket& answer, bool classify);
  int QuerySpace(std::u16string_view path, bool total, int64_t& out);
};

// Module-wide: SetUnicode marks it; the backup agent's commands trace it.
int32_t UnicodeSet();

// Parses the handshake's type list into entries ("ext|mode|size" or "ext|size").
void ParseTypeList(std::u16string_view text, TypeArray& a, TypeArray& b);

}  // namespace kiv
