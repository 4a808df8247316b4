#include "backup/backup.hpp"

#include "link/backup_file.hpp"
#include "link/phone_link.hpp"
#include "platform/messages.hpp"
#include "platform/text.hpp"
#include "platform/trace.hpp"
#include "platform/window.hpp"

namespace kiv {
namespace {

constexpr uintptr_t kProgressBackupFile = 900;
constexpr uintptr_t kProgressRestoreFile = 901;
constexpr char kRestoreVersion[] = "1";
// More directories than any phone holds: a phone that never marks the last one.
constexpr std::size_t kMaxDirectories = 1u << 20;

// Closes a backup data file that the procedure still holds.
void CloseIfOpen(int32_t& handle, int32_t flag) {
  if (handle == kBackupInvalidHandle) return;
  BACKUP_CloseBackupDataFile(handle, flag);
  handle = kBackupInvalidHandle;
}

}  // namespace

// ---- Connect and disconnect -------------------------------------------------------------------

int CBackup::ConnectAs(const char* name, int port, KivHwnd window, int method) {
  TraceF("start CPhoneFileManager::%s\n", name);
  CPFileMan& pfm = m_Manager.m_PFileMan;
  pfm.ResetFlags();
  int result = CM_RET_SUCCESS;
  if (!CurrentLink().IsConnected()) result = pfm.Connect(port, kCableBaudrate, m_Manager.m_hWnd, method);
  if (result != CM_RET_SUCCESS) {
    m_Manager.m_bConnected = 0;
    SendReport(window, kReportConnectFailed, kStyleNoText);
    TraceF("end CPhoneFileManager::%s %s\n", name,
           result == CM_RET_GLOBALLOCKED ? "CM_RET_GLOBALLOCKED" : "CM_RET_FAILED");
    return result == CM_RET_GLOBALLOCKED ? CM_RET_GLOBALLOCKED : 0;
  }
  m_Manager.m_bConnected = 1;
  if (!m_Manager.ReadPhoneInfo()) {
    pfm.Disconnect();
    m_Manager.m_bConnected = 0;
    TraceF("end CPhoneFileManager::%s CM_RET_FAILED\n", name);
    return 0;
  }
  TraceF("end CPhoneFileManager::%s CM_RET_SUCCESS\n", name);
  return 1;
}

int CBackup::BACKUPTOOL_Connect(int port, std::u16string_view text, KivHwnd window, int method) {
  if (!text.empty()) return 0;
  return ConnectAs("BACKUPTOOL_Connect", port, window, method);
}

int CBackup::BACKUPTOOL_ConnectU(int port, KivHwnd window, int method) {
  return ConnectAs("BACKUPTOOL_ConnectU", port, window, method);
}

void CBackup::BackupDisconnect() {
  if (m_Manager.m_bConnected) m_Manager.m_PFileMan.Disconnect();
  m_Manager.m_bConnected = 0;
  SleepMs(500);
  m_Manager.InitializeU(m_Manager.m_hWnd);
}

// ---- The list of folders and files --------------------------------------------------------------

int CBackup::BACKUPTOOL_GetList() {
  Trace("start CPhoneFileManager::BACKUPTOOL_GetList\n");
  m_BackupFileList.clear();
  m_BackupFolderList.clear();
  CBackupToolCommands commands = Commands();
  std::u16string first;
  int last = 0;
  commands.BACKUPTOOL_GetFirstDirectory(first, last);
  if (first.empty()) {
    Trace("end CPhoneFileManager::BACKUPTOOL_GetList return FALSE\n");
    return 0;
  }
  return BACKUPTOOL_GetFileList(std::move(first));
}

// One directory after the other, as the agent hands them out. A folder whose list fails, or
// a failing request for the next directory, fails the walk: a backup never leaves a folder
// out silently.
int CBackup::BACKUPTOOL_GetFileList(std::u16string folder) {
  CBackupToolCommands commands = Commands();
  for (;;) {
    TraceF("start CPhoneFileManager::BACKUPTOOL_GetFileList Foldername=%s\n", U16ToUtf8(folder).c_str());
    m_BackupFolderList.push_back(folder);
    int count = 0;
    std::vector<std::u16string> names;
    if (!commands.BACKUPTOOL_GetFolderFiles(folder, count, names)) {
      Trace("end CPhoneFileManager::BACKUPTOOL_GetFileList the file list failed\n");
      return 0;
    }
    for (const auto& name : names) m_BackupFileList.push_back(folder + u'\\' + name);
    std::u16string next;
    int last = 0;
    if (!commands.BACKUPTOOL_GetNextDirectory(next, last)) {
      Trace("end CPhoneFileManager::BACKUPTOOL_GetFileList the next directory failed\n");
      BackupDisconnect();
      return 0;
    }
    if (next == u"/") {
      Trace("end CPhoneFileManager::BACKUPTOOL_GetFileList NextFolder==/\n");
      return 1;
    }
    if (last || next.empty()) break;
    if (m_BackupFolderList.size() >= kMaxDirectories) {
      Trace("end CPhoneFileManager::BACKUPTOOL_GetFileList the phone offers no last directory\n");
      return 0;
    }
    folder = std::move(next);
  }
  Trace("end CPhoneFileManager::BACKUPTOOL_GetFileList\n");
  return 1;
}

// ---- Backup -------------------------------------------------------------------------------------

int CBackup::BACKUPTOOL_BackupFiles(std::u16string_view path, int version, KivHwnd window) {
  m_Manager.m_bCancel.store(0, std::memory_order_relaxed);
  m_nDownLoadItemcount = 0;
  if (!BACKUPTOOL_GetList()) return 0;
  TraceF("CPhoneFileManager::BACKUPTOOL_BackupFiles BackupFileName=%s\n", U16ToUtf8(path).c_str());
  int32_t handle = BACKUP_OpenBakupDataFile(path, kBackupModeWrite);
  if (handle == kBackupInvalidHandle) return 0;
  // Every way out but the last closes the file as not usable, so that a restore refuses it.
  auto fail = [&] {
    CloseIfOpen(handle, kBackupCloseFailed);
    return 0;
  };
  if (!BACKUP_WriteBackupFileHeader(handle, BackupHeaderBlock::Make(version))) return fail();
  for (const auto& folder : m_BackupFolderList) {
    BackupEntryRecord entry;
    if (!BackupEntryRecord::Make(kBackupKindFolder, 0, folder, entry) || !BACKUP_WriteBackupFileInfo(handle, entry))
      return fail();
  }
  CBackupToolCommands commands = Commands();
  FirstPieceFlag().store(1, std::memory_order_relaxed);
  for (const auto& item : m_BackupFileList) {
    const std::size_t cut = item.rfind(u'\\');
    if (cut == std::u16string::npos) continue;
    if (m_Manager.m_bCancel.load(std::memory_order_relaxed)) {
      m_Manager.m_bCancel.store(0, std::memory_order_relaxed);
      Trace("CPhoneFileManager::BACKUPTOOL_BackupFiles cancelled\n");
      return fail();
    }
    std::u16string folder = ReplaceChar(std::u16string_view(item).substr(0, cut), u'/', u'\\');
    std::u16string name = item.substr(cut + 1);
    if (!commands.BACKUPTOOL_UploadFile(folder, name, window, handle)) return fail();
    ++m_nDownLoadItemcount;
    SendToWindow(window, kMsgProgress, kProgressBackupFile, static_cast<intptr_t>(m_nDownLoadItemcount));
  }
  BACKUP_CloseBackupDataFile(handle, kBackupCloseOk);
  return 1;
}

int CBackup::BACKUPTOOL_GetBackupAgentInfomation(std::u16string_view path) {
  Trace("start CPhoneFileManager::BACKUPTOOL_GetBackupAgentInfomation\n");
  return Commands().BACKUPTOOL_GetBackupToolVersion(path);
}

// ---- Restore ------------------------------------------------------------------------------------

int CBackup::BACKUPTOOL_Restore(std::u16string_view path, KivHwnd window) {
  m_nRestoreItemCount = 0;
  m_Manager.m_bCancel.store(0, std::memory_order_relaxed);
  int32_t handle = BACKUP_OpenBakupDataFile(path, kBackupModeRead);
  if (handle == kBackupInvalidHandle) return 0;
  BackupHeaderBlock header = BackupHeaderBlock::Make(kRestoreVersion);
  if (!BACKUP_ReadBackupFileHeader(handle, header)) {
    ShowBackupHeaderError(BackupGetLastError());
    BACKUP_CloseBackupDataFile(handle, kBackupCloseOk);
    return 0;
  }
  CBackupToolCommands commands = Commands();
  auto finish = [&](int result) {
    CloseIfOpen(handle, kBackupCloseOk);
    return result;
  };
  for (;;) {
    BackupEntryRecord entry;
    const int32_t read = BACKUP_ReadBackupFileInfo(handle, entry);
    if (read == 0) return finish(0);
    if (read == kBackupNoMoreEntries) return finish(1);
    const std::u16string entryPath = entry.Path();
    if (entry.Kind() == kBackupKindFolder) {
      commands.BACKUPTOOL_CreateFolder(entryPath);
      continue;
    }
    if (entryPath.empty()) return finish(0);
    const std::size_t cut = entryPath.rfind(u'\\');
    if (cut == std::u16string::npos || cut == 0 || cut + 1 == entryPath.size()) continue;
    const std::u16string folder = entryPath.substr(0, cut);
    const std::u16string name = entryPath.substr(cut + 1);
    // A cancel that falls between two files stops the restore as well.
    if (m_Manager.m_bCancel.load(std::memory_order_relaxed)) {
      m_Manager.m_bCancel.store(0, std::memory_order_relaxed);
      Trace("CPhoneFileManager::BACKUPTOOL_Restore cancelled\n");
      return finish(0);
    }
    // A file that the phone holds whole is passed over (also an empty one); one that it holds
    // at another length, such as what an interrupted restore left, is sent again. Reading the
    // next entry passes over this one's content.
    uint32_t held = 0;
    if (m_Manager.m_PFileMan.QueryFile(0, folder, name, entry.Length(), held) == 1 && held == entry.Length())
      continue;
    const int sent =
        commands.BACKUPTOOL_DownloadFile(folder, name, m_Manager.m_nMaxPacketSize, window, handle, entry.Length());
    if (sent != 1) return finish(sent);
    ++m_nRestoreItemCount;
    SendToWindow(window, kMsgProgress, kProgressRestoreFile, static_cast<intptr_t>(m_nRestoreItemCount));
  }
}

}  // namespace kiv
