/*
 * Kivmod: work with one mobile phone attached by cable, USB serial or Bluetooth.
 *
 * Public C interface. Every function is a plain C function. Texts are NUL-terminated
 * UTF-16; a null text pointer is an empty text. The library never keeps a host pointer
 * past the call that received it. Messages to host windows are delivered synchronously on
 * the calling thread through the window procedure given to Kiv_CreateWindow.
 */
#ifndef KIVMOD_KIVMOD_H
#define KIVMOD_KIVMOD_H

#include <stdint.h>

#if defined(_WIN32)
#include <windows.h>
#define KIV_API __declspec(dllexport)
#else
#define KIV_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Basic types ------------------------------------------------------------------- */

#if defined(_WIN32)
typedef wchar_t KivChar;
typedef HWND KivHwnd;
#else
#ifdef __cplusplus
typedef char16_t KivChar;
#else
typedef uint16_t KivChar;
#endif
typedef struct KivWindow* KivHwnd;
#endif

/* Window procedure of a host window. Its return value is the result of the message. */
typedef intptr_t (*KivWndProc)(void* user, KivHwnd wnd, uint32_t msg, uintptr_t wParam,
                               intptr_t lParam);

/* Host window messages. */
#define KIV_MSG_LOCKED 0x401u   /* wParam 0, lParam 0: the phone is locked */
#define KIV_MSG_REPORT 0x8064u  /* wParam report code, lParam const KivReport* */
#define KIV_MSG_PROGRESS 0x8065u /* wParam const KivProgress* (or 900/901), lParam 0 */
#define KIV_MSG_CANCELLED 0x8067u /* a multi-item procedure ended on cancel */

/* Report record (lParam of KIV_MSG_REPORT); valid only during the message. */
typedef struct KivReport {
  uint32_t style; /* 0x80 no text, 1 text1, 8 text1 and text2, 0x40 text1 and value */
  const KivChar* text1;
  const KivChar* text2;
  float value;
} KivReport;

/* Progress record (wParam of KIV_MSG_PROGRESS); valid only during the message. */
typedef struct KivProgress {
  const KivChar* text;
  int32_t itemCount;
  uint32_t bytesDone;
  uint32_t totalBytes;
  int32_t further;
  int32_t question; /* 0 progress; 501 or 502 a question answered by the return value */
  int32_t continuing;
} KivProgress;

/* File type table entry and array (Kiv_GetSupportFileExt). */
typedef struct KivTypeEntry {
  KivChar name[20]; /* extension, NUL-terminated */
  uint32_t maxSize;
  uint32_t rules; /* 0x1 may be copied to the PC, 0x2 may be copied to the phone */
} KivTypeEntry;

typedef struct KivTypeArray {
  const void* header;
  KivTypeEntry* entries;
  int32_t count;
  int32_t capacity;
  int32_t growBy;
} KivTypeArray;

/* ---- Host windows (stand-in for window handles) --------------------------------------- */

/* Makes a window handle whose messages go to proc(user, ...). */
KIV_API KivHwnd Kiv_CreateWindow(KivWndProc proc, void* user);
KIV_API void Kiv_DestroyWindow(KivHwnd wnd);

/* ---- Host collections ------------------------------------------------------------------ */

typedef struct KivStringList KivStringList;
typedef struct KivString KivString;

KIV_API KivStringList* Kiv_StringList_New(void);
KIV_API void Kiv_StringList_Add(KivStringList* list, const KivChar* text);
KIV_API int32_t Kiv_StringList_Count(const KivStringList* list);
/* The text at index, valid until the list changes or is freed; null when out of range. */
KIV_API const KivChar* Kiv_StringList_At(const KivStringList* list, int32_t index);
KIV_API void Kiv_StringList_Free(KivStringList* list);

KIV_API KivString* Kiv_String_New(void);
KIV_API const KivChar* Kiv_String_Get(const KivString* str);
KIV_API void Kiv_String_Free(KivString* str);

/* Folder tree records copied out to the host (Kiv_GetList, Kiv_GetTopList). The views and
 * their texts stay valid until the list changes or is freed. */
typedef struct KivFileInfo {
  const KivChar* folder;   /* folder that holds the file */
  const KivChar* name;
  int32_t size;            /* bytes on the phone */
  int32_t localSize;       /* bytes already on the PC */
  uint32_t time1, time2, time3; /* seconds since 1 January 1970 */
  uint32_t attributes;     /* 0x40 hidden, 0x80 not writable, and the listing's bits */
} KivFileInfo;

typedef struct KivFolderInfo {
  const KivChar* folderName;    /* full path, "\\" between components */
  const KivChar* upFolderName;  /* parent path, "Root" for a top-level folder */
  const KivStringList* types;   /* accepted extensions; empty accepts every one */
  int32_t listed;
  int32_t subOpened;
  int64_t freeSize;             /* -1 when unknown */
  uint32_t attributes;          /* 0x1 copy to PC, 0x2 writable, 0x4 fixed, 0x8 subfolders,
                                   0x10 renamable, 0x40 hidden, 0x100 no subfolders */
} KivFolderInfo;

typedef struct KivFileInfoList KivFileInfoList;
typedef struct KivFolderInfoList KivFolderInfoList;

KIV_API KivFileInfoList* Kiv_FileInfoList_New(void);
KIV_API int32_t Kiv_FileInfoList_Count(const KivFileInfoList* list);
KIV_API const KivFileInfo* Kiv_FileInfoList_At(const KivFileInfoList* list, int32_t index);
KIV_API void Kiv_FileInfoList_Free(KivFileInfoList* list);

KIV_API KivFolderInfoList* Kiv_FolderInfoList_New(void);
KIV_API int32_t Kiv_FolderInfoList_Count(const KivFolderInfoList* list);
KIV_API const KivFolderInfo* Kiv_FolderInfoList_At(const KivFolderInfoList* list, int32_t index);
KIV_API void Kiv_FolderInfoList_Free(KivFolderInfoList* list);

/* ---- Phone link -------------------------------------------------------------------------- */

/* A host-supplied transport. Every function takes user first. */
typedef struct KivPhoneLinkOps {
  void* user;
  void (*set_trans_method)(void* user, int method);
  void (*set_com_port)(void* user, int port);
  void (*set_baudrate)(void* user, int rate);
  void (*set_hwnd)(void* user, KivHwnd wnd);
  int (*connect)(void* user, const char* id, int len);
  int (*is_connected)(void* user);
  void (*disconnect)(void* user);
  void (*clean)(void* user);
  int (*close_port_handle)(void* user);
  void (*set_bt_device_address)(void* user, const uint8_t address[6]);
  int (*bt_connection)(void* user);
  int (*bt_connection_ex)(void* user);
  int (*bt_disconnection)(void* user);
  int (*bt_disconnection_ex)(void* user);
  uint8_t (*get_next_seq_num)(void* user);
  uint32_t (*get_req_timeout)(void* user);
  void (*set_req_timeout)(void* user, uint32_t ms);
  int (*pkt_send)(void* user, uint8_t cls, uint8_t code, int32_t flag, uint8_t seq,
                  const uint8_t* body, uint16_t len);
  /* body has room for 65535 bytes; returns 1 when an answer arrived */
  int (*pkt_read)(void* user, uint8_t* cls, uint8_t* code, uint8_t* body, uint16_t* len);
  int (*get_phone_info)(void* user, uint8_t info[168]);
  int (*set_backup_tool)(void* user);
} KivPhoneLinkOps;

/* Installs a host transport (copied); null goes back to the built-in links. */
KIV_API void Kiv_SetPhoneLink(const KivPhoneLinkOps* ops);

/* ---- Message box --------------------------------------------------------------------- */

/* Receives the texts the library would show in a message box (for example why a backup
 * data file was rejected). Without a handler they go to standard error. */
typedef void (*KivMessageBoxProc)(void* user, const KivChar* text, const KivChar* caption);
KIV_API void Kiv_SetMessageBoxHandler(KivMessageBoxProc proc, void* user);

/* ---- Session --------------------------------------------------------------------------- */

KIV_API void Kiv_Initalize(KivHwnd wnd, const KivChar* unused);
KIV_API void Kiv_InitalizeU(KivHwnd wnd);
/* Opens the cable session; the baud rate is always 115200. 1 open, 0 not. */
KIV_API int32_t Kiv_Connect(int32_t comPort, int32_t ignored, KivHwnd msgWnd, int32_t method);
KIV_API int32_t Kiv_Disconnect(void);
KIV_API int32_t Kiv_BTConnection(const uint8_t* address, int32_t method, KivHwnd wnd);
KIV_API int32_t Kiv_BTConnectionEx(const uint8_t* address, int32_t method, KivHwnd wnd);
KIV_API int32_t Kiv_BTDisconnection(void);
KIV_API int32_t Kiv_BTDisconnectionEx(void);
KIV_API int32_t Kiv_SPP_BTConnect(const uint8_t* address, int32_t method, KivHwnd wnd);
KIV_API int32_t Kiv_SPP_BTDisconnect(int32_t keep);
/* Cancels the running transfer; may be called from another thread. */
KIV_API void Kiv_TransferCancle(void);
/* Copies the upper-case model name, without terminator, to the start of buffer. */
KIV_API void Kiv_GetModelName(KivChar* buffer);
KIV_API int32_t Kiv_GetFileManVersion(void);
KIV_API const KivTypeArray* Kiv_GetSupportFileExt(void);
/* Copies the memory card name, NUL-terminated UTF-16, into buffer, which holds 4096 units
   (the name is at most 4095 units long). */
KIV_API void Kiv_GetExtraMemoryName(KivChar* buffer);

/* ---- Folder tree and space ----------------------------------------------------------- */

/* Lists the phone folder and everything below it into the folder tree; 1 or 0. Reports go
   to wnd. */
KIV_API int32_t Kiv_OpenFolder(const KivChar* path, KivHwnd wnd);
/* Free bytes of the memory that holds the known folder; 0 on failure. */
KIV_API int64_t Kiv_UpdateFreeSize(const KivChar* path, KivHwnd wnd);
/* Total bytes of the memory that holds the known folder; 0 on failure. */
KIV_API int64_t Kiv_GetTotalSpace(const KivChar* path, KivHwnd wnd);

/* ---- Host-supplied and host-read records ------------------------------------------------ */

/* Appends a file record to the folder tree; returns its index. */
KIV_API int32_t Kiv_AddFileInfos(const KivChar* folder, const KivChar* name, uint32_t size, uint32_t unused,
                                 uint32_t time1, uint32_t time2, uint32_t time3, uint32_t attributes);
/* Adds a folder under a known parent; 1 added, 0 parent unknown or not connected. */
KIV_API int32_t Kiv_AddFolderInfo(const KivChar* path);
/* The number of folder records. */
KIV_API int32_t Kiv_GetFileAndFolderInfo(void);
/* Appends copies of folder's files and direct subfolders (exact comparison); always 1. */
KIV_API int32_t Kiv_GetList(const KivChar* folder, KivFileInfoList* files, KivFolderInfoList* folders);
/* Appends copies of the folders whose parent is parent ("Root" for the top level); always 1. */
KIV_API int32_t Kiv_GetTopList(const KivChar* parent, KivFolderInfoList* folders);

/* ---- Copy to the PC, delete, rename, create folder ------------------------------------- */

/* Copies phone files into the PC folder targetFolder. sources holds phone file paths and
 * phone folders; a folder that exists on the PC by the same path stands for its known files
 * below it that the PC lacks (open the folders first; files land flat in targetFolder).
 * Reports go to wnd (0xA9 unknown item, 0xD1 folder refuses copies, 0xAA type refuses
 * copies, 0xAB copy failed or a phone name was unsafe for a PC file), with one progress
 * message per file. Returns the number of items handled; 0 on failure, or on cancel after
 * KIV_MSG_CANCELLED. A failed copy leaves the local file at the phone file's length. */
KIV_API int32_t Kiv_SendToPC(const KivStringList* sources, const KivChar* targetFolder, KivHwnd wnd);

/* Sends files into the phone folder targetFolder: PC files (phoneSource 0), or phone files
 * the tree knows, copied (move 0) or moved on the phone. Asks before replacing a phone file
 * (progress record question 501: reply 2 yes to all, 3 skip, other yes). Returns the number
 * of entries walked; 0 on failure; -4 type may not go to the phone, -5 folder refuses the
 * extension, -6 no room, -7 name or path too long, -8 unknown phone file, or a transfer's
 * own negative result (-7 phone busy, -9 cancelled). A failed transfer is remembered for
 * Kiv_ResumfileDownLoad. */
KIV_API int32_t Kiv_SendToPhone(const KivStringList* sources, const KivChar* targetFolder, int32_t phoneSource,
                                int32_t move, KivHwnd wnd);

/* Continues the remembered failed copy to the phone. Asks the host first (progress record
 * question 502: reply 1 continue where it stopped, 2 send it again, other discard the
 * phone's partial file). 1 sent, 0 otherwise (also after a discard). */
KIV_API int32_t Kiv_ResumfileDownLoad(KivHwnd wnd);

/* Deletes phone files and folders, the contents of a folder before the folder. kinds may be
 * null (every entry a folder); otherwise text i reads as a number, 0 marking entry i a file.
 * Reports: 0xBE fixed folder, 0xBF hidden subfolder, 0xC0 read-only file, 0xB3 folder not
 * writable, 0xC1 delete failed, 0xAB phone busy. Returns the number of entries walked; 0 on
 * an early failure or on cancel (after KIV_MSG_CANCELLED). */
KIV_API int32_t Kiv_DeletePhoneFile(const KivStringList* sources, KivHwnd wnd, const KivStringList* kinds);

/* Renames the phone file (isFolder 0) or folder oldPath to the last component of newPath.
 * Names and paths over the memory's limits fail without a report; otherwise reports 0xB3,
 * 0xC4 (type may not change its extension), 0xB7 (folder refuses the extension), 0xC5 or
 * 0xAB. Known records below a renamed folder follow it. 1 renamed, 0 not. */
KIV_API int32_t Kiv_RenamePhoneFile(const KivChar* oldPath, const KivChar* newPath, KivHwnd wnd,
                                    int32_t isFolder);

/* Creates the phone folder path; it is recorded as listed (empty). Names, paths or depths
 * over the memory's limits fail without a report; 0xAB when the phone was busy.
 * 1 created, 0 not. */
KIV_API int32_t CreatePhoneDirectory(const KivChar* path, KivHwnd wnd);

/* ---- Backup and restore ----------------------------------------------------------------- */

/* wParam of KIV_MSG_PROGRESS after each whole file, lParam the running file count. */
#define KIV_PROGRESS_BACKUP_FILE 900u   /* a file was written into the backup data file */
#define KIV_PROGRESS_RESTORE_FILE 901u  /* a file was sent to the phone */
/* Result of Kiv_BACKUPTOOL_Restore when a piece was answered with result byte 0x27. */
#define KIV_RESTORE_PHONE_FULL 110

/* Connects in backup mode: the cable set-up of Kiv_Connect (115200 baud, the window of
   Kiv_InitalizeU) unless the link is up, then the phone-information step only (no root
   folder read). 1 connected; 0 failed; -2 phone locked (both with report 0xCF, style 0x80,
   to reportWnd, never 0x401); a failed handshake closes the link, no report. Returns 0 at
   once, touching nothing, when hostText is not empty. */
KIV_API int32_t Kiv_BACKUP_Connect(int32_t comPort, int32_t unused, const KivChar* hostText,
                                   KivHwnd reportWnd, int32_t method);
/* Kiv_BACKUP_Connect without the text. */
KIV_API int32_t Kiv_BACKUP_ConnectU(int32_t comPort, int32_t unused, KivHwnd reportWnd, int32_t method);
/* Walks the backup agent's directories and their file lists afresh; 1 listed, 0 the phone
   offered no first directory. */
KIV_API int32_t Kiv_BACKUP_Getlist(KivHwnd wnd);
/* Collects the list afresh and writes every folder and file into the backup data file
   backupFile (created or replaced) with formatVersion in its header. Piece progress and
   KIV_PROGRESS_BACKUP_FILE go to wnd. 1 done; 0 failed or cancelled (the files written
   completely are counted). */
KIV_API int32_t Kiv_BACKUP_Backup(KivHwnd wnd, const KivChar* backupFile, int32_t formatVersion);
/* Writes the backup agent's information document to documentPath (created or replaced):
   UTF-8 with its byte order mark. 1 written, 0 not. */
KIV_API int32_t Kiv_BACKUP_BackupInfo(int32_t unused1, int32_t unused2, int32_t unused3, int32_t unused4,
                                      const KivChar* documentPath);
/* Closes a backup-mode session (link closed when open, 500 ms pause, the manager
   reinitialised with its window); always 1. */
KIV_API int32_t Kiv_BACKUP_Disconnect(void);
/* Files written completely by the last (or running) backup. */
KIV_API int32_t Kiv_BACKUPTOOL_GetBackupfileCount(void);

/* Switches the phone link into backup-tool mode; returns the link's own result. */
KIV_API int32_t Kiv_BackupToolConfig(void);
/* Prepares the phone for a restore; 1 prepared, 0 not (result byte 0x58 included). */
KIV_API int32_t Kiv_BACKUPTOOL_InitPhone(int32_t unused);
/* Has the phone check password; 1 accepted (answer code 0x41), 0 otherwise. */
KIV_API int32_t Kiv_BACKUPTOOL_CheckPass(const KivChar* password);
/* Restores backupFile (header version "1" whatever the caller passes) onto the phone: every
   folder entry is created, every file entry sent unless the phone's file query says it holds
   it. A rejected header shows its reason in the message box (Kiv_SetMessageBoxHandler).
   Piece progress and KIV_PROGRESS_RESTORE_FILE go to wnd. 1 done; 0 failed or cancelled;
   KIV_RESTORE_PHONE_FULL (110) the phone has no free space. */
KIV_API int32_t Kiv_BACKUPTOOL_Restore(const KivChar* backupFile, KivHwnd wnd, int32_t unused);
/* Files sent by the last (or running) restore. */
KIV_API int32_t Kiv_BACKUPTOOL_GetRestorefileCount(void);

#ifdef __cplusplus
}
#endif

#endif /* KIVMOD_KIVMOD_H */
