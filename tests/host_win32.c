/* A Windows host as phone suites are: it loads Kivmod.dll with LoadLibraryW, finds the
 * exports with GetProcAddress, and hands the library a real window whose procedure counts
 * the reports and progress messages that arrive.
 *
 *   host_win32 DLL                  no phone: a connect to a missing COM port must report
 *                                   to the real window and to a window of Kiv_CreateWindow
 *   host_win32 DLL PORT PCFOLDER    a phone on COM PORT: connect, send PCFOLDER\up.mp3 into
 *                                   "Music", copy it back into PCFOLDER\back, compare */
#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "kivmod/kivmod.h"

typedef void(KIV_CALL* InitalizeU)(KivHwnd);
typedef int32_t(KIV_CALL* Connect)(int32_t, int32_t, KivHwnd, int32_t);
typedef int32_t(KIV_CALL* Disconnect)(void);
typedef int32_t(KIV_CALL* OpenFolder)(const KivChar*, KivHwnd);
typedef KivStringList*(KIV_CALL* ListNew)(void);
typedef void(KIV_CALL* ListAdd)(KivStringList*, const KivChar*);
typedef void(KIV_CALL* ListFree)(KivStringList*);
typedef int32_t(KIV_CALL* SendToPhone)(const KivStringList*, const KivChar*, int32_t, int32_t, KivHwnd);
typedef int32_t(KIV_CALL* SendToPC)(const KivStringList*, const KivChar*, KivHwnd);
typedef KivHwnd(KIV_CALL* CreateHostWindow)(KivWndProc, void*);
typedef void(KIV_CALL* DestroyHostWindow)(KivHwnd);

static struct {
  InitalizeU initalizeU;
  Connect connect;
  Disconnect disconnect;
  OpenFolder openFolder;
  ListNew listNew;
  ListAdd listAdd;
  ListFree listFree;
  SendToPhone sendToPhone;
  SendToPC sendToPC;
  CreateHostWindow createWindow;
  DestroyHostWindow destroyWindow;
} kiv;

static int reports[256];
static int progress;
static int hostProcReports;

static int Fail(const char* what) {
  fprintf(stderr, "host_win32: %s\n", what);
  return 1;
}

static LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == KIV_MSG_REPORT) {
    ++reports[wParam & 0xFF];
    return 0;
  }
  if (msg == KIV_MSG_PROGRESS) {
    const KivProgress* p = (const KivProgress*)wParam;
    if (p && p->totalBytes >= p->bytesDone) ++progress;
    return 0;
  }
  return DefWindowProcW(wnd, msg, wParam, lParam);
}

static intptr_t KIV_CALL HostProc(void* user, KivHwnd wnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  (void)user, (void)wnd, (void)lParam;
  if (msg == KIV_MSG_REPORT && wParam == KIV_REPORT_CONNECT_FAILED) ++hostProcReports;
  return 0;
}

static FARPROC Find(HMODULE dll, const char* name) {
  FARPROC f = GetProcAddress(dll, name);
  if (!f) fprintf(stderr, "host_win32: no export %s\n", name);
  return f;
}

static int Load(const wchar_t* path) {
  HMODULE dll = LoadLibraryW(path);
  if (!dll) return Fail("LoadLibraryW failed");
#define FIND(field, type, name) \
  if (!(kiv.field = (type)(void (*)(void))Find(dll, name))) return 1;
  FIND(initalizeU, InitalizeU, "Kiv_InitalizeU")
  FIND(connect, Connect, "Kiv_Connect")
  FIND(disconnect, Disconnect, "Kiv_Disconnect")
  FIND(openFolder, OpenFolder, "Kiv_OpenFolder")
  FIND(listNew, ListNew, "Kiv_StringList_New")
  FIND(listAdd, ListAdd, "Kiv_StringList_Add")
  FIND(listFree, ListFree, "Kiv_StringList_Free")
  FIND(sendToPhone, SendToPhone, "Kiv_SendToPhone")
  FIND(sendToPC, SendToPC, "Kiv_SendToPC")
  FIND(createWindow, CreateHostWindow, "Kiv_CreateWindow")
  FIND(destroyWindow, DestroyHostWindow, "Kiv_DestroyWindow")
#undef FIND
  /* Undecorated cdecl names only: a stdcall decoration would show as a second name. */
  if (GetProcAddress(dll, "Kiv_Connect@16") || GetProcAddress(dll, "_Kiv_Connect")) return Fail("decorated export");
  return 0;
}

static HWND MakeWindow(void) {
  WNDCLASSEXW wc;
  memset(&wc, 0, sizeof wc);
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(NULL);
  wc.lpszClassName = L"KivmodTestHost";
  if (!RegisterClassExW(&wc)) return NULL;
  /* A top-level window as a suite's main window is, never shown. */
  return CreateWindowExW(0, wc.lpszClassName, L"Kivmod test host", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                         CW_USEDEFAULT, 400, 300, NULL, NULL, wc.hInstance, NULL);
}

/* Without a phone: both kinds of window hear that the connect failed. */
static int NoPhone(HWND wnd) {
  kiv.initalizeU(wnd);
  if (kiv.connect(42, 0, wnd, 1) != 0) return Fail("a connect to COM42 succeeded");
  if (reports[KIV_REPORT_CONNECT_FAILED] != 1) return Fail("no connect report reached the window");
  KivHwnd own = kiv.createWindow(HostProc, NULL);
  if (!own) return Fail("Kiv_CreateWindow failed");
  kiv.initalizeU(own);
  kiv.connect(42, 0, own, 1);
  kiv.destroyWindow(own);
  if (hostProcReports != 1) return Fail("no connect report reached the Kiv_CreateWindow procedure");
  /* A handle that names no window takes nothing and breaks nothing. */
  kiv.initalizeU((KivHwnd)(intptr_t)0x1234);
  kiv.connect(42, 0, (KivHwnd)(intptr_t)0x1234, 1);
  printf("host_win32: reports reach real and library windows\n");
  return 0;
}

static int SameFiles(const wchar_t* a, const wchar_t* b) {
  FILE* fa = _wfopen(a, L"rb");
  FILE* fb = _wfopen(b, L"rb");
  int same = fa && fb;
  while (same) {
    char x[65536], y[65536];
    size_t n = fread(x, 1, sizeof x, fa), m = fread(y, 1, sizeof y, fb);
    if (n != m || memcmp(x, y, n) != 0) same = 0;
    if (n == 0 || !same) break;
  }
  if (fa) fclose(fa);
  if (fb) fclose(fb);
  return same;
}

/* With a phone: a copy each way, byte for byte, with progress on the real window. */
static int WithPhone(HWND wnd, int port, const wchar_t* folder) {
  wchar_t up[MAX_PATH], back[MAX_PATH], backFile[MAX_PATH];
  swprintf(up, MAX_PATH, L"%ls\\up.mp3", folder);
  swprintf(back, MAX_PATH, L"%ls\\back", folder);
  swprintf(backFile, MAX_PATH, L"%ls\\back\\up.mp3", folder);
  kiv.initalizeU(wnd);
  if (kiv.connect(port, 0, wnd, 1) != 1) return Fail("connect failed");
  if (kiv.openFolder(L"Music", wnd) != 1) return Fail("cannot open Music");
  KivStringList* list = kiv.listNew();
  kiv.listAdd(list, up);
  int sent = kiv.sendToPhone(list, L"Music", 0, 0, wnd);
  kiv.listFree(list);
  if (sent != 1) return Fail("send to the phone failed");
  int sendProgress = progress;
  if (sendProgress == 0) return Fail("no progress while sending");
  if (kiv.openFolder(L"Music", wnd) != 1) return Fail("cannot open Music again");
  CreateDirectoryW(back, NULL);
  list = kiv.listNew();
  kiv.listAdd(list, L"Music\\up.mp3");
  int got = kiv.sendToPC(list, back, wnd);
  kiv.listFree(list);
  if (got != 1) return Fail("copy to the PC failed");
  if (progress == sendProgress) return Fail("no progress while receiving");
  if (!SameFiles(up, backFile)) return Fail("the copy back differs");
  list = kiv.listNew();
  kiv.listAdd(list, L"Music\\missing.mp3");
  kiv.sendToPC(list, back, wnd);
  kiv.listFree(list);
  if (reports[KIV_REPORT_NOT_KNOWN] != 1) return Fail("no report for an unknown phone file");
  kiv.disconnect();
  printf("host_win32: copied both ways over COM%d, %d progress messages\n", port, progress);
  return 0;
}

int main(void) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || (argc != 2 && argc != 4)) return Fail("usage: host_win32 DLL [PORT PCFOLDER]");
  if (Load(argv[1])) return 1;
  HWND wnd = MakeWindow();
  if (!wnd) return Fail("no window");
  int status = argc == 2 ? NoPhone(wnd) : WithPhone(wnd, _wtoi(argv[2]), argv[3]);
  DestroyWindow(wnd);
  return status;
}
