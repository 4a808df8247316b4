// The commands of the phone's backup agent: walk the directories it offers and list their
// files, fetch its information document, prepare the phone for a restore, create a folder,
// check a password, and move one file's content between the phone and an open backup data
// file, piece by piece.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kivmod/kivmod.h"
#include "protocol/transactions.hpp"

namespace kiv {

// Result of BACKUPTOOL_DownloadFile when the phone answered a piece with 0x27.
inline constexpr int kBackupPhoneFull = 110;

class CBackupToolCommands {
 public:
  // extraMemoryName: the memory card's name from the handshake (listings of folders on the
  // card are paced).
  CBackupToolCommands(Transactions& session, std::u16string_view extraMemoryName)
      : session_(session), extraMemoryName_(extraMemoryName) {}

  // The first and the following directories that the agent offers; last is set to 1 when
  // the phone marks the answer as the last one (result byte 0x58).
  int BACKUPTOOL_GetFirstDirectory(std::u16string& name, int& last);
  int BACKUPTOOL_GetNextDirectory(std::u16string& name, int& last);
  // The names of the files in folder (joined across continuation answers); count is the
  // number the phone announced.
  int BACKUPTOOL_GetFolderFiles(std::u16string_view folder, int& count, std::vector<std::u16string>& names);
  // 1 unless the phone answers 0x58.
  int BACKUPTOOL_InitPhone();
  // Writes the agent's information document (UTF-8 with byte order mark) to xmlPath.
  int BACKUPTOOL_GetBackupToolVersion(std::u16string_view xmlPath);
  int BACKUPTOOL_CreateFolder(std::u16string_view path);
  // 1 when the phone accepts the password (answer code 0x41).
  int BACKUPTOOL_CheckPass(std::u16string_view password);
  // Switches the link into backup-tool mode; the link's own result.
  int BackupToolConfig();

  // Phone file folder\name into the open backup file: its entry record before its first
  // piece, then its content. 1 when the whole file is in the backup file, else 0. When the
  // transfer closes the backup file itself it sets handle to -1.
  int BACKUPTOOL_UploadFile(std::u16string_view folder, std::u16string_view name, KivHwnd window,
                            int32_t& handle);
  // The current entry's content of the backup file onto the phone as folder\name: 1, 0, or
  // kBackupPhoneFull. On 0 and kBackupPhoneFull the backup file is closed (handle -1).
  int BACKUPTOOL_DownloadFile(std::u16string_view folder, std::u16string_view name, uint32_t sizeLimit,
                              KivHwnd window, int32_t& handle, uint32_t fileLength);

 private:
  int Directory(uint8_t code, const char* what, std::u16string& name, int& last);
  int FolderFilesPage(uint8_t code, std::u16string_view folder, std::u16string& text, uint16_t* count);
  int BACKUPTOOL_SubUpload(std::u16string_view folder, std::u16string_view name, KivHwnd window, int32_t& handle);
  int BACKUPTOOL_SubDownload(std::u16string_view folder, std::u16string_view name, int32_t handle,
                             uint32_t fileLength, uint32_t offset, uint32_t pieceNumber, uint32_t pieceLength,
                             int last, KivHwnd window);

  Transactions& session_;
  std::u16string extraMemoryName_;
  std::vector<uint8_t> body_;  // piece requests reuse its storage
};

}  // namespace kiv
