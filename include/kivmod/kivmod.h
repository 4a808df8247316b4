/*
 * Kivmod: work with one mobile phone attached by cable, USB serial or Bluetooth.
 *
 * Public C interface, usable from C (C89 and later) and C++. Every function is a plain C
 * function with the calling convention KIV_CALL. Texts are NUL-terminated UTF-16; a null
 * text pointer is an empty text. The library never keeps a host pointer past the call that
 * received it.
 *
 * Every export runs to its end on the calling thread. While it runs, it tells the host what
 * happens with synchronous messages to a host window (KIV_MSG_*): on Windows the host's own
 * window (SendMessageW), elsewhere a handle made by Kiv_CreateWindow whose procedure is called
 * directly. Any pointer carried by a message is valid only during that message. The only
 * exports that may be called while another one runs are Kiv_TransferCancle and
 * Kiv_EmailTrans_SetCancel, from another thread or from a message handler.
 */
#ifndef KIVMOD_KIVMOD_H
#define KIVMOD_KIVMOD_H

#include <stdint.h>
#if defined(_WIN32)
#include <stddef.h>
#endif

/* Version of this interface (the library's release). */
#define KIVMOD_VERSION_MAJOR 0
#define KIVMOD_VERSION_MINOR 1
#define KIVMOD_VERSION_PATCH 0

/* KIV_API marks an export. Windows: hosts import from Kivmod.dll; the library itself is
 * built with KIVMOD_BUILDING and exports through its module definition file (an attribute
 * as well would add decorated duplicates on i686); a host that links the library statically
 * defines KIVMOD_STATIC. Elsewhere the library builds with hidden symbols and shows only the
 * exports. KIV_CALL is the calling convention of every export and every host callback. */
#if defined(_WIN32)
#if defined(KIVMOD_BUILDING) || defined(KIVMOD_STATIC)
#define KIV_API
#else
#define KIV_API __declspec(dllimport)
#endif
#define KIV_CALL __cdecl
#else
#if defined(KIVMOD_BUILDING) && (defined(__GNUC__) || defined(__clang__))
#define KIV_API __attribute__((visibility("default")))
#else
#define KIV_API
#endif
#define KIV_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Basic types ------------------------------------------------------------------- */

#if defined(_WIN32)
typedef wchar_t KivChar;
typedef struct HWND__* KivHwnd; /* the same type as HWND */
#else
#ifdef __cplusplus
typedef char16_t KivChar;
#else
typedef uint16_t KivChar;
#endif
typedef struct KivWindow* KivHwnd; /* made by Kiv_CreateWindow */
#endif

/* ---- Host window messages ------------------------------------------------------------ */

#define KIV_MSG_LOCKED 0x401u     /* wParam 0, lParam 0: the cable connect found the phone locked */
#define KIV_MSG_REPORT 0x8064u    /* wParam a report code (KIV_REPORT_*), lParam const KivReport* */
#define KIV_MSG_PROGRESS 0x8065u  /* wParam const KivProgress*, lParam 0; or wParam
                                     KIV_PROGRESS_BACKUP_FILE / KIV_PROGRESS_RESTORE_FILE */
#define KIV_MSG_CANCELLED 0x8067u /* wParam 0, lParam 0: a multi-item export ended on cancel */
/* The e-mail family sends its notices (KIV_EMAIL_*) with a message number the host chooses. */

/* ---- Reports (wParam of KIV_MSG_REPORT) ------------------------------------------------- */

/* Report styles (KivReport.style): which fields of the record carry something. */
#define KIV_STYLE_NO_TEXT 0x80u    /* no text */
#define KIV_STYLE_NAME 1u          /* text1 holds a name */
#define KIV_STYLE_TWO_NAMES 8u     /* text1 and text2 hold names */
#define KIV_STYLE_NAME_VALUE 0x40u /* text1 holds a name, value a number */

#define KIV_REPORT_LIST_FAILED 0xA6u           /* reading a folder listing (text1 the folder) or the
                                                  sound list (text1 "Sound") failed */
#define KIV_REPORT_DETAILS_FAILED 0xA7u        /* reading a file's or subfolder's details, or reading
                                                  an XML listing, failed; text1 the entry */
#define KIV_REPORT_LOCAL_FILE_FAILED 0xA8u     /* a local placeholder file could not be created;
                                                  text1 its path */
#define KIV_REPORT_NOT_KNOWN 0xA9u             /* a listed item or the target folder has no record
                                                  (open its folder first); text1 the name */
#define KIV_REPORT_TYPE_NOT_TO_PC 0xAAu        /* files of this type may not be copied to the PC;
                                                  text1 the extension */
#define KIV_REPORT_TRANSFER_FAILED 0xABu       /* a transfer or operation failed: style no text when
                                                  the phone was busy (result byte 0x53), else text1
                                                  the entry */
#define KIV_REPORT_PATH_TOO_LONG 0xB1u         /* the target path is too long for the memory; text1
                                                  the path, text2 the limit */
#define KIV_REPORT_FOLDER_NAME_TOO_LONG 0xB2u  /* a folder name is too long for the memory; text1 the
                                                  name, text2 the limit */
#define KIV_REPORT_FOLDER_NOT_WRITABLE 0xB3u   /* the folder is not writable; text1 the folder */
#define KIV_REPORT_EXTENSION_REFUSED 0xB7u     /* the folder does not accept the extension; text1 the
                                                  extension, text2 the folder */
#define KIV_REPORT_FILE_TOO_LARGE 0xB8u        /* the file is larger than its type allows; text1 the
                                                  extension, value the maximum size */
#define KIV_REPORT_TARGET_READ_ONLY 0xB9u      /* the phone file to be replaced is read-only; text1
                                                  the target folder */
#define KIV_REPORT_SOURCE_READ_ONLY 0xBAu      /* the file to be moved is read-only; text1 the file */
#define KIV_REPORT_NO_SPACE 0xBBu              /* not enough free space on the phone */
#define KIV_REPORT_SEND_REFUSED 0xBCu          /* the phone refused a file with result byte 0x28;
                                                  text1 the target folder */
#define KIV_REPORT_SEND_FAILED 0xBDu           /* a copy to the phone failed otherwise; text1 the
                                                  target folder */
#define KIV_REPORT_FOLDER_FIXED 0xBEu          /* a folder to delete is fixed */
#define KIV_REPORT_HIDDEN_SUBFOLDER 0xBFu      /* a folder to delete holds a hidden subfolder; text1
                                                  the folder */
#define KIV_REPORT_FILE_READ_ONLY 0xC0u        /* a file to delete is read-only; text1 folder\name */
#define KIV_REPORT_DELETE_FAILED 0xC1u         /* a delete failed; text1 folder\name (or the folder) */
#define KIV_REPORT_EXTENSION_CHANGE 0xC4u      /* this file type may not change its extension; text1
                                                  the old extension */
#define KIV_REPORT_RENAME_FAILED 0xC5u         /* a rename failed; text1 the old name or the folder */
#define KIV_REPORT_SPACE_FAILED 0xC7u          /* a free or total space query failed */
#define KIV_REPORT_RESUME_SOURCE 0xC8u         /* the PC file of the interrupted copy cannot be
                                                  opened (or none is recorded); text1 its path */
#define KIV_REPORT_CONNECT_FAILED 0xCFu        /* a connection could not be opened */
#define KIV_REPORT_FOLDER_NOT_TO_PC 0xD1u      /* the folder does not allow copying to the PC; text1
                                                  the folder */

/* Report record (lParam of KIV_MSG_REPORT); valid only during the message. */
typedef struct KivReport {
  uint32_t style; /* KIV_STYLE_* */
  const KivChar* text1;
  const KivChar* text2;
  float value;
} KivReport;

/* ---- Progress and questions (wParam of KIV_MSG_PROGRESS) -------------------------------- */

/* Question codes (KivProgress.question); the host's answer is the message's return value. */
#define KIV_QUESTION_OVERWRITE 501 /* replace the phone file of this name? (Kiv_SendToPhone) */
#define KIV_QUESTION_RESUME 502    /* how to go on with the interrupted copy? (Kiv_ResumfileDownLoad) */

/* Answers to KIV_QUESTION_OVERWRITE; any other value replaces the file. */
#define KIV_ANSWER_REPLACE 1     /* replace this file */
#define KIV_ANSWER_REPLACE_ALL 2 /* replace it and every later file of this call unasked */
#define KIV_ANSWER_SKIP 3        /* keep the phone's file and go on with the next */

/* Answers to KIV_QUESTION_RESUME; any other value discards as well. */
#define KIV_ANSWER_RESUME_CONTINUE 1 /* continue where the copy stopped */
#define KIV_ANSWER_RESUME_RESTART 2  /* send the file again from its start */
#define KIV_ANSWER_RESUME_DISCARD 3  /* delete the phone's partial file */

/* Progress record (wParam of KIV_MSG_PROGRESS); valid only during the message. */
typedef struct KivProgress {
  const KivChar* text;
  int32_t itemCount;
  uint32_t bytesDone;
  uint32_t totalBytes;
  int32_t further;
  int32_t question; /* 0 progress, else KIV_QUESTION_* */
  int32_t continuing;
} KivProgress;

/* ---- Results ------------------------------------------------------------------------- */

/* Negative results of the copying and connecting exports (each export names its own). */
#define KIV_RESULT_LOCKED (-2)             /* the phone is locked */
#define KIV_RESULT_TYPE_NOT_TO_PHONE (-4)  /* a file's type may not be copied to the phone */
#define KIV_RESULT_EXTENSION_REFUSED (-5)  /* the target folder does not accept the extension */
#define KIV_RESULT_NO_SPACE (-6)           /* not enough free space on the phone for a file */
#define KIV_RESULT_TOO_LONG_OR_BUSY (-7)   /* a name or path too long for the memory, or the phone
                                              was busy (result byte 0x53) during a copy */
#define KIV_RESULT_UNKNOWN_FILE (-8)       /* a phone file to send has no record */
#define KIV_RESULT_CANCELLED (-9)          /* the host cancelled a copy (the phone was told) */
/* The restore's "phone full" result is KIV_RESTORE_PHONE_FULL, below. */

/* ---- File types, folder and file attributes -------------------------------------------- */

/* Rule bits of a file type (KivTypeEntry.rules); a type missing from the table has both. */
#define KIV_TYPE_TO_PC 0x1u    /* files of the type may be copied to the PC */
#define KIV_TYPE_TO_PHONE 0x2u /* files of the type may be copied to the phone */

/* Folder attribute bits (KivFolderInfo.attributes). */
#define KIV_FOLDER_COPY_TO_PC 0x1u      /* its files may be copied to the PC */
#define KIV_FOLDER_WRITABLE 0x2u        /* files may be written into it */
#define KIV_FOLDER_FIXED 0x4u           /* it may not be deleted or renamed */
#define KIV_FOLDER_SUBFOLDERS 0x8u      /* subfolders may be created in it */
#define KIV_FOLDER_RENAMABLE 0x10u      /* it may be renamed */
#define KIV_FOLDER_HIDDEN 0x40u         /* hidden: never listed */
#define KIV_FOLDER_NO_SUBFOLDERS 0x100u /* it holds no subfolders */

/* File attribute bits (KivFileInfo.attributes), beside the listing's own. */
#define KIV_FILE_HIDDEN 0x40u       /* not copied as part of its folder */
#define KIV_FILE_NOT_WRITABLE 0x80u /* may not be replaced, moved or deleted */

/* File type table entry and array (Kiv_GetSupportFileExt). */
typedef struct KivTypeEntry {
  KivChar name[20]; /* extension, NUL-terminated */
  uint32_t maxSize; /* bytes; 0 no maximum */
  uint32_t rules;   /* KIV_TYPE_* */
} KivTypeEntry;

typedef struct KivTypeArray {
  const void* header;
  KivTypeEntry* entries;
  int32_t count;
  int32_t capacity;
  int32_t growBy;
} KivTypeArray;

/* ---- Host windows of the library's own (hosts without a window) ---------------------- */

/* Window procedure of a host window; its return value is the result of the message. */
typedef intptr_t (KIV_CALL *KivWndProc)(void* user, KivHwnd wnd, uint32_t msg, uintptr_t wParam,
                                        intptr_t lParam);

/* Makes a window handle whose messages go to proc(user, ...) on the thread that sends them.
   On Windows it is a message-only window, made and used on the host's thread; proc takes
   the library's messages (WM_USER and up). */
KIV_API KivHwnd KIV_CALL Kiv_CreateWindow(KivWndProc proc, void* user);
/* Frees a handle of Kiv_CreateWindow; null is ignored. */
KIV_API void KIV_CALL Kiv_DestroyWindow(KivHwnd wnd);

/* ---- Host collections ------------------------------------------------------------------ */

typedef struct KivStringList KivStringList;
typedef struct KivString KivString;

/* A new empty list of texts; null when out of memory. Free it with Kiv_StringList_Free. */
KIV_API KivStringList* KIV_CALL Kiv_StringList_New(void);
/* Appends a copy of text (null: an empty text); a null list is ignored. */
KIV_API void KIV_CALL Kiv_StringList_Add(KivStringList* list, const KivChar* text);
/* The number of texts; 0 for a null list. */
KIV_API int32_t KIV_CALL Kiv_StringList_Count(const KivStringList* list);
/* The text at index, valid until the list changes or is freed; null when out of range. */
KIV_API const KivChar* KIV_CALL Kiv_StringList_At(const KivStringList* list, int32_t index);
/* Frees the list and its texts; null is ignored. */
KIV_API void KIV_CALL Kiv_StringList_Free(KivStringList* list);

/* A new empty out text; null when out of memory. Free it with Kiv_String_Free. */
KIV_API KivString* KIV_CALL Kiv_String_New(void);
/* The text, valid until it is written again or freed; an empty text for a null handle. */
KIV_API const KivChar* KIV_CALL Kiv_String_Get(const KivString* str);
/* Frees the out text; null is ignored. */
KIV_API void KIV_CALL Kiv_String_Free(KivString* str);

/* Folder tree records copied out to the host (Kiv_GetList, Kiv_GetTopList). The views and
 * their texts stay valid until the list changes or is freed. */
typedef struct KivFileInfo {
  const KivChar* folder;   /* folder that holds the file */
  const KivChar* name;
  int32_t size;            /* bytes on the phone */
  int32_t localSize;       /* bytes already on the PC */
  uint32_t time1, time2, time3; /* seconds since 1 January 1970 */
  uint32_t attributes;     /* KIV_FILE_* and the listing's bits */
} KivFileInfo;

typedef struct KivFolderInfo {
  const KivChar* folderName;    /* full path, "\\" between components */
  const KivChar* upFolderName;  /* parent path, "Root" for a top-level folder */
  const KivStringList* types;   /* accepted extensions; empty accepts every one */
  int32_t listed;
  int32_t subOpened;
  int64_t freeSize;             /* -1 when unknown */
  uint32_t attributes;          /* KIV_FOLDER_* */
} KivFolderInfo;

typedef struct KivFileInfoList KivFileInfoList;
typedef struct KivFolderInfoList KivFolderInfoList;

/* Record lists that the host owns: New (null when out of memory), Count (0 for null), At
   (null when out of range) and Free (null ignored), as for the string list. */
KIV_API KivFileInfoList* KIV_CALL Kiv_FileInfoList_New(void);
KIV_API int32_t KIV_CALL Kiv_FileInfoList_Count(const KivFileInfoList* list);
KIV_API const KivFileInfo* KIV_CALL Kiv_FileInfoList_At(const KivFileInfoList* list, int32_t index);
KIV_API void KIV_CALL Kiv_FileInfoList_Free(KivFileInfoList* list);

KIV_API KivFolderInfoList* KIV_CALL Kiv_FolderInfoList_New(void);
KIV_API int32_t KIV_CALL Kiv_FolderInfoList_Count(const KivFolderInfoList* list);
KIV_API const KivFolderInfo* KIV_CALL Kiv_FolderInfoList_At(const KivFolderInfoList* list, int32_t index);
KIV_API void KIV_CALL Kiv_FolderInfoList_Free(KivFolderInfoList* list);

/* ---- Phone link -------------------------------------------------------------------------- */

/* A host-supplied transport. Every function takes user first. */
typedef struct KivPhoneLinkOps {
  void* user;
  void (KIV_CALL *set_trans_method)(void* user, int method);
  void (KIV_CALL *set_com_port)(void* user, int port);
  void (KIV_CALL *set_baudrate)(void* user, int rate);
  void (KIV_CALL *set_hwnd)(void* user, KivHwnd wnd);
  int (KIV_CALL *connect)(void* user, const char* id, int len);
  int (KIV_CALL *is_connected)(void* user);
  void (KIV_CALL *disconnect)(void* user);
  void (KIV_CALL *clean)(void* user);
  int (KIV_CALL *close_port_handle)(void* user);
  void (KIV_CALL *set_bt_device_address)(void* user, const uint8_t address[6]);
  int (KIV_CALL *bt_connection)(void* user);
  int (KIV_CALL *bt_connection_ex)(void* user);
  int (KIV_CALL *bt_disconnection)(void* user);
  int (KIV_CALL *bt_disconnection_ex)(void* user);
  uint8_t (KIV_CALL *get_next_seq_num)(void* user);
  uint32_t (KIV_CALL *get_req_timeout)(void* user);
  void (KIV_CALL *set_req_timeout)(void* user, uint32_t ms);
  int (KIV_CALL *pkt_send)(void* user, uint8_t cls, uint8_t code, int32_t flag, uint8_t seq,
                           const uint8_t* body, uint16_t len);
  /* body has room for 65535 bytes; returns 1 when an answer arrived */
  int (KIV_CALL *pkt_read)(void* user, uint8_t* cls, uint8_t* code, uint8_t* body, uint16_t* len);
  int (KIV_CALL *get_phone_info)(void* user, uint8_t info[168]);
  int (KIV_CALL *set_backup_tool)(void* user);
} KivPhoneLinkOps;

/* Installs a host transport (the table is copied) for every later connect; null goes back to
   the built-in links. */
KIV_API void KIV_CALL Kiv_SetPhoneLink(const KivPhoneLinkOps* ops);

/* ---- Message box --------------------------------------------------------------------- */

/* Receives the texts the library would show in a message box (why a backup data file was
 * rejected). Without a handler they go to standard error. */
typedef void (KIV_CALL *KivMessageBoxProc)(void* user, const KivChar* text, const KivChar* caption);
KIV_API void KIV_CALL Kiv_SetMessageBoxHandler(KivMessageBoxProc proc, void* user);

/* ---- Session --------------------------------------------------------------------------- */

/* Makes a new current session for cable use; wnd is the window handed to the phone link at
   connect. unused is not read. Sends nothing. */
KIV_API void KIV_CALL Kiv_Initalize(KivHwnd wnd, const KivChar* unused);
/* As Kiv_Initalize, without the text. */
KIV_API void KIV_CALL Kiv_InitalizeU(KivHwnd wnd);
/* Opens the cable session (baud rate always 115200), reads the phone information and the
 * top-level folders. 1 open, 0 not. To msgWnd: KIV_MSG_LOCKED for a locked phone, report
 * KIV_REPORT_CONNECT_FAILED when the link does not open; a failed handshake closes the link
 * without a message. With the link already up it goes straight to the handshake. */
KIV_API int32_t KIV_CALL Kiv_Connect(int32_t comPort, int32_t ignored, KivHwnd msgWnd, int32_t method);
/* Closes the session (500 ms pause) and forgets the folder tree and file types; always 1. */
KIV_API int32_t KIV_CALL Kiv_Disconnect(void);
/* Makes a new current session and opens it over classic Bluetooth to the 6-byte address,
   reading the phone information and top-level folders. 1 open, 0 not; sends nothing. */
KIV_API int32_t KIV_CALL Kiv_BTConnection(const uint8_t* address, int32_t method, KivHwnd wnd);
/* As Kiv_BTConnection, over extended Bluetooth. */
KIV_API int32_t KIV_CALL Kiv_BTConnectionEx(const uint8_t* address, int32_t method, KivHwnd wnd);
/* Closes the classic Bluetooth link; 1 closed, 0 not. The session still counts as open. */
KIV_API int32_t KIV_CALL Kiv_BTDisconnection(void);
/* Closes the extended Bluetooth link; 1 closed, 0 not. The session still counts as open. */
KIV_API int32_t KIV_CALL Kiv_BTDisconnectionEx(void);
/* Opens the current session over the Bluetooth serial port profile and reads the phone
   information only (the folder tree is kept). 1 open, 0 not; sends nothing. */
KIV_API int32_t KIV_CALL Kiv_SPP_BTConnect(const uint8_t* address, int32_t method, KivHwnd wnd);
/* Closes the serial port profile link; unless keep, waits 500 ms and reinitialises the
   session as Kiv_InitalizeU does. 1 closed, 0 not. */
KIV_API int32_t KIV_CALL Kiv_SPP_BTDisconnect(int32_t keep);
/* Cancels the running transfer: it stops at its next check, tells the phone, and the export
   returns its cancel result. May be called from another thread or a message handler. */
KIV_API void KIV_CALL Kiv_TransferCancle(void);
/* Copies the upper-case model name, without terminator, to the start of buffer; nothing when
   the phone information cannot be read. */
KIV_API void KIV_CALL Kiv_GetModelName(KivChar* buffer);
/* The phone's protocol version; 0 before the first handshake. */
KIV_API int32_t KIV_CALL Kiv_GetFileManVersion(void);
/* The phone's file type table, valid until the next handshake or the session's end; an
   empty table before any handshake. */
KIV_API const KivTypeArray* KIV_CALL Kiv_GetSupportFileExt(void);
/* Copies the memory card name, NUL-terminated UTF-16, into buffer, which holds 4096 units
   (the name is at most 4095 units long; empty without a card). */
KIV_API void KIV_CALL Kiv_GetExtraMemoryName(KivChar* buffer);

/* ---- Folder tree and space ----------------------------------------------------------- */

/* Lists the known phone folder and everything below it into the folder tree (a hidden or
   unknown folder: 1, nothing done). 1 listed, 0 not (also when not connected). Reports to
   wnd: KIV_REPORT_LIST_FAILED, KIV_REPORT_DETAILS_FAILED. */
KIV_API int32_t KIV_CALL Kiv_OpenFolder(const KivChar* path, KivHwnd wnd);
/* Free bytes of the memory that holds the known folder; 0 on failure (report
   KIV_REPORT_SPACE_FAILED to wnd while the link is up). A new value marks the free size of
   every other folder unknown. */
KIV_API int64_t KIV_CALL Kiv_UpdateFreeSize(const KivChar* path, KivHwnd wnd);
/* Total bytes of the memory that holds the known folder; 0 on failure (report
   KIV_REPORT_SPACE_FAILED to wnd while the link is up). */
KIV_API int64_t KIV_CALL Kiv_GetTotalSpace(const KivChar* path, KivHwnd wnd);

/* ---- Host-supplied and host-read records ------------------------------------------------ */

/* Appends a file record to the folder tree (no duplicate check); returns its index, -1
   without a session. Sends nothing. */
KIV_API int32_t KIV_CALL Kiv_AddFileInfos(const KivChar* folder, const KivChar* name, uint32_t size,
                                          uint32_t unused, uint32_t time1, uint32_t time2, uint32_t time3,
                                          uint32_t attributes);
/* Adds a writable folder under a known parent and marks the parent listed; 1 added, 0 parent
   unknown or not connected. */
KIV_API int32_t KIV_CALL Kiv_AddFolderInfo(const KivChar* path);
/* The number of folder records. */
KIV_API int32_t KIV_CALL Kiv_GetFileAndFolderInfo(void);
/* Appends copies of folder's files and direct subfolders (exact comparison) to the host's
   lists (either may be null); always 1. */
KIV_API int32_t KIV_CALL Kiv_GetList(const KivChar* folder, KivFileInfoList* files, KivFolderInfoList* folders);
/* Appends copies of the folders whose parent is parent ("Root" for the top level); always 1. */
KIV_API int32_t KIV_CALL Kiv_GetTopList(const KivChar* parent, KivFolderInfoList* folders);

/* ---- Copy to the PC, delete, rename, create folder ------------------------------------- */

/* Copies phone files into the PC folder targetFolder. sources holds phone file paths and
 * phone folders; a folder that exists on the PC by the same path stands for its known files
 * below it that the PC lacks (open the folders first; files land flat in targetFolder).
 * To wnd: one progress message per file and per piece; reports KIV_REPORT_NOT_KNOWN,
 * KIV_REPORT_FOLDER_NOT_TO_PC, KIV_REPORT_TYPE_NOT_TO_PC, KIV_REPORT_TRANSFER_FAILED (also
 * for a phone name unsafe as a PC file name). Returns the number of items handled; 0 on
 * failure, or on cancel after KIV_MSG_CANCELLED. A failed copy leaves the local file at the
 * phone file's length. */
KIV_API int32_t KIV_CALL Kiv_SendToPC(const KivStringList* sources, const KivChar* targetFolder, KivHwnd wnd);

/* Sends files into the phone folder targetFolder: PC files (phoneSource 0), or phone files
 * the tree knows, copied (move 0) or moved on the phone. To wnd: a progress message per
 * entry and per piece; KIV_QUESTION_OVERWRITE before replacing a phone file (KIV_ANSWER_*);
 * reports KIV_REPORT_NOT_KNOWN, _PATH_TOO_LONG, _FOLDER_NAME_TOO_LONG, _FOLDER_NOT_WRITABLE,
 * _FILE_TOO_LARGE, _TARGET_READ_ONLY, _SOURCE_READ_ONLY, _NO_SPACE, _TRANSFER_FAILED,
 * _SEND_REFUSED, _SEND_FAILED and those of reading the target folder; KIV_MSG_CANCELLED on
 * a cancel between files. Returns the number of entries walked; 0 on failure or after
 * KIV_MSG_CANCELLED; KIV_RESULT_TYPE_NOT_TO_PHONE, _EXTENSION_REFUSED, _NO_SPACE,
 * _TOO_LONG_OR_BUSY or _UNKNOWN_FILE; KIV_RESULT_CANCELLED for a cancel during a copy. A
 * failed transfer is remembered for Kiv_ResumfileDownLoad. */
KIV_API int32_t KIV_CALL Kiv_SendToPhone(const KivStringList* sources, const KivChar* targetFolder,
                                         int32_t phoneSource, int32_t move, KivHwnd wnd);

/* Continues the remembered failed copy to the phone. Asks wnd first (KIV_QUESTION_RESUME,
 * answered with KIV_ANSWER_RESUME_*), then sends progress messages. 1 sent, 0 otherwise
 * (also after a discard). Reports KIV_REPORT_RESUME_SOURCE, and for a failed discard
 * KIV_REPORT_TRANSFER_FAILED or KIV_REPORT_DELETE_FAILED. */
KIV_API int32_t KIV_CALL Kiv_ResumfileDownLoad(KivHwnd wnd);

/* Deletes phone files and folders, the contents of a folder before the folder. kinds may be
 * null (every entry a folder); otherwise text i reads as a number, 0 marking entry i a file.
 * To wnd: a progress message per entry; reports KIV_REPORT_FOLDER_FIXED,
 * _HIDDEN_SUBFOLDER, _FILE_READ_ONLY, _FOLDER_NOT_WRITABLE, _DELETE_FAILED,
 * _TRANSFER_FAILED (phone busy) and those of reading the folders. Returns the number of
 * entries walked; 0 on an early failure or on cancel (after KIV_MSG_CANCELLED). */
KIV_API int32_t KIV_CALL Kiv_DeletePhoneFile(const KivStringList* sources, KivHwnd wnd, const KivStringList* kinds);

/* Renames the phone file (isFolder 0) or folder oldPath to the last component of newPath.
 * Names and paths over the memory's limits fail without a report; otherwise reports to wnd
 * KIV_REPORT_FOLDER_NOT_WRITABLE, _EXTENSION_CHANGE, _EXTENSION_REFUSED, _RENAME_FAILED or
 * _TRANSFER_FAILED (phone busy). Known records below a renamed folder follow it. 1 renamed,
 * 0 not. */
KIV_API int32_t KIV_CALL Kiv_RenamePhoneFile(const KivChar* oldPath, const KivChar* newPath, KivHwnd wnd,
                                             int32_t isFolder);

/* Creates the phone folder path; it is recorded as listed (empty). Names, paths or depths
 * over the memory's limits fail without a report; KIV_REPORT_TRANSFER_FAILED to wnd when the
 * phone was busy. 1 created, 0 not. */
KIV_API int32_t KIV_CALL CreatePhoneDirectory(const KivChar* path, KivHwnd wnd);

/* ---- Playlists ------------------------------------------------------------------------ */

/* Playlist content file, written by Kiv_GetPlayListContents and read by Kiv_AddPlaylist and
   Kiv_EditPlaylist: the song paths separated by ":", UTF-8, without byte order mark,
   terminator or line end. On the wire an add or edit piece carries its text right after its
   "xd" fields (name, piece number from 1) as UTF-16LE units without length or terminator;
   the last piece (flag 1) ends with one line feed unit. Every request fits the phone's
   packet size; the file is sent whole. */

/* Reads the phone's two playlist overview values (16 bits each, passed through) into *first
   and *second, which are set to 0 before the request, so they read 0 after a failure; a
   null pointer is skipped. 1 or 0. */
KIV_API int32_t KIV_CALL Kiv_GetPlayListInfo(int32_t unused, int32_t* first, int32_t* second);

/* Appends the phone's playlist names to names, page by page, sending the low 16 bits of
   first and second unchanged with every page request, until the phone's position reaches
   its total or stops advancing. 1; 0 when a page fails (names of earlier pages stay). */
KIV_API int32_t KIV_CALL Kiv_GetPlayList(int32_t unused, int32_t first, int32_t second, KivStringList* names);

/* Writes the content of playlist name into the PC file localPath (created or truncated) as
   a content file; a memory card song, "mmc1", one separator and a rest, is written as
   "Card/" and the rest ("MMC1..." stays as it is). wnd is not used. 1 written; 0 on a
   failure or a cancel (the phone is told), the file then holding what arrived. */
KIV_API int32_t KIV_CALL Kiv_GetPlayListContents(const KivChar* localPath, const KivChar* name, KivHwnd wnd);

/* Creates playlist name on the phone from the content file localPath, in pieces of at most
   C/2 file bytes (C = packet size - N - 23 - N mod 4, N = 2 x name length + 3), each but the
   last cut after its last ":". Progress (KIV_MSG_PROGRESS) per piece to wnd (text = name,
   bytesDone = the piece's offset in the file, other numbers 0). 1 sent; 0 on a failure, a
   lost link, a packet too small for any text, or a cancel (the phone is told). */
KIV_API int32_t KIV_CALL Kiv_AddPlaylist(const KivChar* localPath, const KivChar* name, KivHwnd wnd);

/* As Kiv_AddPlaylist, replacing the content of the existing playlist name. */
KIV_API int32_t KIV_CALL Kiv_EditPlaylist(const KivChar* localPath, const KivChar* name, KivHwnd wnd);

/* Renames playlist oldName to newName; a newName of more UTF-16 units than the internal
   memory's maximum file-name length minus 5 fails at once, nothing sent. 1 or 0. */
KIV_API int32_t KIV_CALL Kiv_RenamePlaylist(const KivChar* oldName, const KivChar* newName);

/* Deletes playlist name (the phone may take up to 1000000 ms). 1 or 0. */
KIV_API int32_t KIV_CALL Kiv_DeletePlaylist(const KivChar* name);

/* ---- Sound files ------------------------------------------------------------------------ */

/* Reads the phone's sound list with its tags and replaces the folder tree's file records
   (a folder opened before must be opened again) and the sound records by the sound files
   listed: each under its phone folder, the list's path with "/" turned into "\\" and without
   leading or trailing "\\" ("/Sounds/Tones" -> "Sounds\\Tones"). Left out: files whose
   folder the tree does not know, files with a negative size, and repeats of a folder and
   name (letter case ignored). No PC file or folder is made. Report KIV_REPORT_LIST_FAILED
   (style 1, text1 "Sound") to wnd when the request failed and the phone did not refuse it.
   1 read; 0 not connected (nothing sent), request failed, or a list that is not readable
   XML. */
KIV_API int32_t KIV_CALL Kiv_GetAllSoundFiles(KivHwnd wnd);

/* Copies the tags of the first sound record whose folder and name equal folder and name
   (letter case ignored) into the four text objects, whole, and *duration; a null output is
   skipped. 1; 0 and every output untouched when no record matches. */
KIV_API int32_t KIV_CALL Kiv_GetSoundFileTag(const KivChar* folder, const KivChar* name, KivString* performer,
                                             KivString* title, KivString* album, KivString* genre,
                                             int32_t* duration);

/* Appends a sound record (nothing sent); returns its 0-based index among the sound records,
   which the next Kiv_GetAllSoundFiles replaces. */
KIV_API int32_t KIV_CALL Kiv_AddSoundFileArray(const KivChar* folder, const KivChar* name,
                                               const KivChar* performer, const KivChar* title,
                                               const KivChar* album, int32_t duration, const KivChar* genre);

/* ---- Backup and restore ----------------------------------------------------------------- */

/* wParam of KIV_MSG_PROGRESS after each whole file, lParam the running file count. */
#define KIV_PROGRESS_BACKUP_FILE 900u   /* a file was written into the backup data file */
#define KIV_PROGRESS_RESTORE_FILE 901u  /* a file was sent to the phone */
/* Result of Kiv_BACKUPTOOL_Restore when a piece was answered with result byte 0x27. */
#define KIV_RESTORE_PHONE_FULL 110

/* Connects in backup mode: the cable set-up of Kiv_Connect (115200 baud, the window of
   Kiv_InitalizeU) unless the link is up, then the phone-information step only (no root
   folder read). 1 connected; 0 failed; KIV_RESULT_LOCKED (-2) phone locked (both with report
   KIV_REPORT_CONNECT_FAILED, style 0x80, to reportWnd, never KIV_MSG_LOCKED); a failed
   handshake closes the link, no report. Returns 0 at once, touching nothing, when hostText
   is not empty. */
KIV_API int32_t KIV_CALL Kiv_BACKUP_Connect(int32_t comPort, int32_t unused, const KivChar* hostText,
                                            KivHwnd reportWnd, int32_t method);
/* Kiv_BACKUP_Connect without the text. */
KIV_API int32_t KIV_CALL Kiv_BACKUP_ConnectU(int32_t comPort, int32_t unused, KivHwnd reportWnd, int32_t method);
/* Walks the backup agent's directories and their file lists afresh; 1 listed, 0 the phone
   offered no first directory. */
KIV_API int32_t KIV_CALL Kiv_BACKUP_Getlist(KivHwnd wnd);
/* Collects the list afresh and writes every folder and file into the backup data file
   backupFile (created or replaced) with formatVersion in its header. Piece progress and
   KIV_PROGRESS_BACKUP_FILE go to wnd. 1 done; 0 failed or cancelled (the files written
   completely are counted). */
KIV_API int32_t KIV_CALL Kiv_BACKUP_Backup(KivHwnd wnd, const KivChar* backupFile, int32_t formatVersion);
/* Writes the backup agent's information document to documentPath (created or replaced):
   UTF-8 with its byte order mark. 1 written, 0 not. */
KIV_API int32_t KIV_CALL Kiv_BACKUP_BackupInfo(int32_t unused1, int32_t unused2, int32_t unused3,
                                               int32_t unused4, const KivChar* documentPath);
/* Closes a backup-mode session (link closed when open, 500 ms pause, the manager
   reinitialised with its window); always 1. */
KIV_API int32_t KIV_CALL Kiv_BACKUP_Disconnect(void);
/* Files written completely by the last (or running) backup. */
KIV_API int32_t KIV_CALL Kiv_BACKUPTOOL_GetBackupfileCount(void);

/* Switches the phone link into backup-tool mode; returns the link's own result. */
KIV_API int32_t KIV_CALL Kiv_BackupToolConfig(void);
/* Prepares the phone for a restore; 1 prepared, 0 not (result byte 0x58 included). */
KIV_API int32_t KIV_CALL Kiv_BACKUPTOOL_InitPhone(int32_t unused);
/* Has the phone check password; 1 accepted (answer code 0x41), 0 otherwise. */
KIV_API int32_t KIV_CALL Kiv_BACKUPTOOL_CheckPass(const KivChar* password);
/* Restores backupFile (header version "1" whatever the caller passes) onto the phone: every
   folder entry is created, every file entry sent unless the phone's file query says it holds
   it. A rejected header shows its reason in the message box (Kiv_SetMessageBoxHandler).
   Piece progress and KIV_PROGRESS_RESTORE_FILE go to wnd. 1 done; 0 failed or cancelled;
   KIV_RESTORE_PHONE_FULL (110) the phone has no free space. */
KIV_API int32_t KIV_CALL Kiv_BACKUPTOOL_Restore(const KivChar* backupFile, KivHwnd wnd, int32_t unused);
/* Files sent by the last (or running) restore. */
KIV_API int32_t KIV_CALL Kiv_BACKUPTOOL_GetRestorefileCount(void);

/* ---- Java installer ------------------------------------------------------------------ */

/* Creates a new manager for the installer, makes it current and clears its cancel flags;
   wnd is the window handed to the phone link at connect. */
KIV_API void KIV_CALL Kiv_JavaInstaller_Initalize(KivHwnd wnd);
/* Opens the cable session at 115200 baud and reads the phone information (no root folder
   read). 1 open, 0 not: a link that does not open (a locked phone included) gives report
   KIV_REPORT_CONNECT_FAILED, style 0x80, to msgWnd and no KIV_MSG_LOCKED; a failed handshake
   closes the link, no report. */
KIV_API int32_t KIV_CALL Kiv_Java_Connect(int32_t comPort, KivHwnd msgWnd, int32_t method);
/* Closes the phone link's port; returns the link's own result. */
KIV_API int32_t KIV_CALL Kiv_Java_DisConnect(void);
/* Asks the phone (protocol version 3 or later; else 0 and nothing sent) about folder\name
   of size bytes. 1 when the result byte is a success code and the answer holds the 32-bit
   value, which goes to *value; 0 otherwise, *value untouched. *result gets the phone's
   result byte whenever a non-refused answer with a body arrived, a failure code included. */
KIV_API int32_t KIV_CALL Kiv_Java_IsFileExist(uint32_t unused, const KivChar* folder, const KivChar* name,
                                              uint32_t size, uint32_t* value, uint8_t* result);
/* Copies the PC file localPath to the phone as folder\name; progress (KIV_MSG_PROGRESS) and
   reports (KIV_REPORT_TRANSFER_FAILED style 0x80 for result byte 0x53,
   KIV_REPORT_SEND_REFUSED or KIV_REPORT_SEND_FAILED style 1 with the folder) go to wnd.
   1 sent; 0 not (no report when the phone refused); KIV_RESULT_NO_SPACE (-6) the folder's
   free space is smaller than the file (nothing sent); KIV_RESULT_CANCELLED (-9) cancelled
   (the phone is told, no report). */
KIV_API int32_t KIV_CALL Kiv_Java_SendFile(const KivChar* name, const KivChar* localPath, const KivChar* folder,
                                           KivHwnd wnd);
/* Asks the phone to install folder\name; 1 accepted, 0 not. */
KIV_API int32_t KIV_CALL Kiv_Java_InstallCommand(const KivChar* folder, const KivChar* name);
/* Deletes folder\name on the phone; always 1. */
KIV_API int32_t KIV_CALL Kiv_Java_DeleteFile(const KivChar* folder, const KivChar* name);

/* ---- E-mail transfer ----------------------------------------------------------------- */

/* Results of the sending exports ("status"). */
#define KIV_EMAIL_ACCEPTED 0x41   /* the phone accepted */
#define KIV_EMAIL_NOT_SENT 0x43   /* not sent, no answer, local file unreadable, header too big */
#define KIV_EMAIL_CANCELLED (-1)  /* cancelled, or no e-mail object */
/* 0: the answer carried another class than 0x26. Any other value: the phone's status (the
   big-endian 32-bit number of an answer whose code is not 'A', 'B' or 'D'; 0x44 for 'D'). */

/* Notices: message number set by Kiv_EmailTrans_SetMsgID, sent to the window set by
   Kiv_EmailTrans_SetMsgWnd (none without one), wParam the code, lParam 0 or the index. */
#define KIV_EMAIL_HEADER_ACCEPTED 0x32 /* the phone accepted the header */
#define KIV_EMAIL_HEADER_FAILED 0x33   /* the header was not accepted */
#define KIV_EMAIL_BODY_ACCEPTED 0x34   /* the phone accepted the body file */
#define KIV_EMAIL_BODY_FAILED 0x35     /* the body file was not accepted */
#define KIV_EMAIL_ATTACH_ACCEPTED 0x36 /* lParam: attachment index; the phone accepted it */
#define KIV_EMAIL_ATTACH_FAILED 0x37   /* lParam: attachment index; it was not accepted */
#define KIV_EMAIL_ATTACH_START 0x38    /* lParam: attachment index; about to be sent */

/* The e-mail header record (H1..H4, T1..T8, H5, T9, T10), fields in order. */
typedef struct KivEmailHeader {
  uint32_t value1;
  uint32_t value2;
  uint32_t attachmentCount;   /* H3: attachments that SendEmail sends */
  uint32_t value4;
  const KivChar* text1;
  const KivChar* text2;
  const KivChar* text3;
  const KivChar* text4;
  const KivChar* text5;
  const KivChar* text6;
  const KivChar* text7;
  const KivChar* attachments; /* T8: attachment file names separated by ";" */
  uint32_t value5;
  const KivChar* bodyName;    /* T9: the body file's name */
  const KivChar* text10;
} KivEmailHeader;

/* Replaces the e-mail object by a new one (cable, 115200 baud, port 0, no windows, message
   number 0, cancel clear, limits 0); returns a nonzero handle of it. */
KIV_API intptr_t KIV_CALL Kiv_EmailTrans_Initialize(void);
/* Setters: store the value; the first four also hand it to the phone link at once.
   1, or 0 (nothing done) when no object exists. */
KIV_API int32_t KIV_CALL Kiv_EmailTrans_SetHwnd(KivHwnd wnd);
KIV_API int32_t KIV_CALL Kiv_EmailTrans_SetTransferMethod(int32_t method); /* 0x17, 0x0D Bluetooth */
KIV_API int32_t KIV_CALL Kiv_EmailTrans_SetPort(int32_t comPort);
KIV_API int32_t KIV_CALL Kiv_EmailTrans_SetBaudRate(int32_t rate);
KIV_API int32_t KIV_CALL Kiv_EmailTrans_SetMsgID(uint32_t message);
KIV_API int32_t KIV_CALL Kiv_EmailTrans_SetMsgWnd(KivHwnd msgWnd);
/* Stores the Bluetooth address: twelve hexadecimal digits, two per byte, no separators. */
KIV_API void KIV_CALL Kiv_EmailTrans_SetBTPort(const KivChar* address);
/* Sets (nonzero) or clears the cancel flag; may be called from another thread or from a
   notice handler while a send runs. */
KIV_API int32_t KIV_CALL Kiv_EmailTrans_SetCancel(int32_t cancel);
/* Copies the 27 capability values into values (27 entries; the 7th and 8th are 0);
   nothing written without an object. */
KIV_API void KIV_CALL Kiv_EmailTrans_GetEmailInfo(uint32_t* values);
/* Connects: Bluetooth methods with the address text (mode nonzero classic, 0 extended;
   result = the low byte of the link's), other methods by cable (the link's result, -2
   included). -1 without an object; 0 for an address that is not 12 hex digits. */
KIV_API int32_t KIV_CALL Kiv_EmailTrans_Connect(KivHwnd wnd, int32_t method, int32_t comPort,
                                                const KivChar* btAddress, int32_t baudRate, int32_t mode);
/* Disconnects by the stored method (Bluetooth: mode nonzero classic, 0 extended); 1. */
KIV_API int32_t KIV_CALL Kiv_EmailTrans_Disconnect(int32_t mode);
/* Reads the phone's e-mail limits: 1 read; 0 not (record unchanged); -1 without an object. */
KIV_API int32_t KIV_CALL Kiv_EmailTrans_GetEmailDBInfo(void);
/* Sends header, body file bodyFolder\T9 and the first H3 names of T8 from attachFolder,
   with notices; the first status that is not 0x41 ends it; 0x41 when all were accepted. */
KIV_API int32_t KIV_CALL Kiv_EmailTrans_SendEmail(const KivEmailHeader* header, const KivChar* bodyFolder,
                                                  const KivChar* attachFolder);
/* Sends the header record alone; status (no notices). */
KIV_API int32_t KIV_CALL Kiv_EmailTrans_SendEmailHeader(const KivEmailHeader* header);
/* Sends the PC file folder\name as the body; status (no notices). */
KIV_API int32_t KIV_CALL Kiv_EmailTrans_SendEmailBody(const KivChar* name, const KivChar* folder);
/* Sends the PC file folder\name as an attachment; status (no notices). */
KIV_API int32_t KIV_CALL Kiv_EmailTrans_SendEmailAttachFile(const KivChar* name, const KivChar* folder,
                                                            int32_t unused);

#ifdef __cplusplus
}
#endif

#endif /* KIVMOD_KIVMOD_H */
