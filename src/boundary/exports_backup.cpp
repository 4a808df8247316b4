// Backup and restore: connect in backup mode, back the phone up into a backup data file,
// restore one onto the phone.
#include "backup/backup.hpp"
#include "boundary/exports_common.hpp"
#include "platform/text.hpp"

using kiv::CBackup;
using kiv::CPhoneFileManager;
using kiv::FromHost;
using kiv::WithManager;

extern "C" {

KIV_API int32_t Kiv_BACKUP_Connect(int32_t comPort, int32_t, const KivChar* hostText, KivHwnd reportWnd,
                                   int32_t method) {
  return WithManager("Kiv_BACKUP_Connect", 0, [&](CPhoneFileManager& m) {
    return m.Family<CBackup>().BACKUPTOOL_Connect(comPort, FromHost(hostText), reportWnd, method);
  });
}

KIV_API int32_t Kiv_BACKUP_ConnectU(int32_t comPort, int32_t, KivHwnd reportWnd, int32_t method) {
  return WithManager("Kiv_BACKUP_ConnectU", 0, [&](CPhoneFileManager& m) {
    return m.Family<CBackup>().BACKUPTOOL_ConnectU(comPort, reportWnd, method);
  });
}

KIV_API int32_t Kiv_BACKUP_Getlist(KivHwnd) {
  return WithManager("Kiv_BACKUP_Getlist", 0,
                     [](CPhoneFileManager& m) { return m.Family<CBackup>().BACKUPTOOL_GetList(); });
}

KIV_API int32_t Kiv_BACKUP_Backup(KivHwnd wnd, const KivChar* backupFile, int32_t formatVersion) {
  return WithManager("Kiv_BACKUP_Backup", 0, [&](CPhoneFileManager& m) {
    return m.Family<CBackup>().BACKUPTOOL_BackupFiles(FromHost(backupFile), formatVersion, wnd);
  });
}

KIV_API int32_t Kiv_BACKUP_BackupInfo(int32_t, int32_t, int32_t, int32_t, const KivChar* documentPath) {
  return WithManager("Kiv_BACKUP_BackupInfo", 0, [&](CPhoneFileManager& m) {
    return m.Family<CBackup>().BACKUPTOOL_GetBackupAgentInfomation(FromHost(documentPath));
  });
}

KIV_API int32_t Kiv_BACKUP_Disconnect(void) {
  return WithManager("Kiv_BACKUP_Disconnect", 1, [](CPhoneFileManager& m) {
    m.Family<CBackup>().BackupDisconnect();
    return 1;
  });
}

KIV_API int32_t Kiv_BACKUPTOOL_GetBackupfileCount(void) {
  return WithManager("Kiv_BACKUPTOOL_GetBackupfileCount", 0, [](CPhoneFileManager& m) {
    return static_cast<int32_t>(m.Family<CBackup>().m_nDownLoadItemcount);
  });
}

KIV_API int32_t Kiv_BackupToolConfig(void) {
  return WithManager("Kiv_BackupToolConfig", 0,
                     [](CPhoneFileManager& m) { return m.Family<CBackup>().Commands().BackupToolConfig(); });
}

KIV_API int32_t Kiv_BACKUPTOOL_InitPhone(int32_t) {
  return WithManager("Kiv_BACKUPTOOL_InitPhone", 0,
                     [](CPhoneFileManager& m) { return m.Family<CBackup>().Commands().BACKUPTOOL_InitPhone(); });
}

KIV_API int32_t Kiv_BACKUPTOOL_CheckPass(const KivChar* password) {
  return WithManager("Kiv_BACKUPTOOL_CheckPass", 0, [&](CPhoneFileManager& m) {
    return m.Family<CBackup>().Commands().BACKUPTOOL_CheckPass(FromHost(password));
  });
}

KIV_API int32_t Kiv_BACKUPTOOL_Restore(const KivChar* backupFile, KivHwnd wnd, int32_t) {
  return WithManager("Kiv_BACKUPTOOL_Restore", 0, [&](CPhoneFileManager& m) {
    return m.Family<CBackup>().BACKUPTOOL_Restore(FromHost(backupFile), wnd);
  });
}

KIV_API int32_t Kiv_BACKUPTOOL_GetRestorefileCount(void) {
  return WithManager("Kiv_BACKUPTOOL_GetRestorefileCount", 0, [](CPhoneFileManager& m) {
    return static_cast<int32_t>(m.Family<CBackup>().m_nRestoreItemCount);
  });
}

}  // extern "C"
