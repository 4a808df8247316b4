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
/* Copies the memory card name, NUL-terminated UTF-16, into buffer. */
KIV_API void Kiv_GetExtraMemoryName(KivChar* buffer);

#ifdef __cplusplus
}
#endif

#endif /* KIVMOD_KIVMOD_H */
