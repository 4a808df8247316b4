// Backup and restore: the phone's backup agent walked into one backup data file, and a backup
// data file sent back onto the phone. The manager holds one instance (Family<CBackup>()).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "filemanager/manager.hpp"
#include "protocol/backup_commands.hpp"

namespace kiv {

class CBackup final : public FamilyState {
 public:
  explicit CBackup(CPhoneFileManager& manager) : m_Manager(manager) {}

  // Connect in backup mode: 1, 0, or -2 when the phone is locked (0xCF goes to window).
  int BACKUPTOOL_Connect(int port, std::u16string_view text, KivHwnd window, int method);
  int BACKUPTOOL_ConnectU(int port, KivHwnd window, int method);
  // Collects the agent's directories and their files afresh: 1, or 0 when the phone offers
  // no first directory or a list fails.
  int BACKUPTOOL_GetList();
  // Writes every collected folder and file into a new backup data file at path: 1 done, 0
  // failed or cancelled (the file is then closed as not usable).
  int BACKUPTOOL_BackupFiles(std::u16string_view path, int version, KivHwnd window);
  int BACKUPTOOL_GetBackupAgentInfomation(std::u16string_view path);
  // Closes the backup-mode session and reinitialises the manager.
  void BackupDisconnect();
  // Sends the backup data file at path onto the phone: 1, 0, or kBackupPhoneFull.
  int BACKUPTOOL_Restore(std::u16string_view path, KivHwnd window);

  CBackupToolCommands Commands() {
    return CBackupToolCommands(m_Manager.m_PFileMan, m_Manager.m_PFileMan.m_strExtraMemoryName);
  }

  std::vector<std::u16string> m_BackupFileList;
  std::vector<std::u16string> m_BackupFolderList;
  uint32_t m_nDownLoadItemcount = 0;  // files written by the current backup
  uint32_t m_nRestoreItemCount = 0;   // files sent by the current restore

 private:
  int ConnectAs(const char* name, int port, KivHwnd window, int method);
  int BACKUPTOOL_GetFileList(std::u16string folder);

  CPhoneFileManager& m_Manager;
};

}  // namespace kiv
