/* A small C host of the installed library: makes a window and a string list, and asks for
   the protocol version without a phone (0). */
#include <kivmod/kivmod.h>
#include <stdio.h>

static intptr_t Proc(void* user, KivHwnd wnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  (void)user; (void)wnd; (void)msg; (void)wParam; (void)lParam;
  return 0;
}

int main(void) {
  KivHwnd wnd = Kiv_CreateWindow(Proc, NULL);
  KivStringList* list = Kiv_StringList_New();
  const KivChar name[] = {'a', 0};
  Kiv_StringList_Add(list, name);
  Kiv_InitalizeU(wnd);
  int version = Kiv_GetFileManVersion();
  Kiv_StringList_Free(list);
  Kiv_DestroyWindow(wnd);
  printf("kivmod %d.%d.%d, protocol version %d\n", KIVMOD_VERSION_MAJOR, KIVMOD_VERSION_MINOR,
         KIVMOD_VERSION_PATCH, version);
  return version == 0 ? 0 : 1;
}
