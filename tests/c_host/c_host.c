/* A plain C host of the shared library: checks that the public header is C and that the
 * exports link and run without the C++ side. */
#include <stdio.h>
#include <string.h>

#include "kivmod/kivmod.h"

static int messages;

static intptr_t proc(void* user, KivHwnd wnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  (void)user; (void)wnd; (void)wParam; (void)lParam;
  if (msg == KIV_MSG_REPORT || msg == KIV_MSG_LOCKED) ++messages;
  return 0;
}

int main(void) {
  KivHwnd wnd = Kiv_CreateWindow(proc, NULL);
  KivStringList* list = Kiv_StringList_New();
  const KivChar text[] = {'a', 'b', 0};
  Kiv_StringList_Add(list, text);
  if (Kiv_StringList_Count(list) != 1 || Kiv_StringList_At(list, 0)[1] != 'b') {
    fprintf(stderr, "string list broken\n");
    return 1;
  }
  Kiv_StringList_Free(list);
  Kiv_InitalizeU(wnd);
  if (Kiv_GetFileManVersion() != 0) return 1;
  const KivTypeArray* types = Kiv_GetSupportFileExt();
  if (!types || types->count != 0) {
    fprintf(stderr, "type array before a handshake must be empty\n");
    return 1;
  }
  Kiv_DestroyWindow(wnd);
  printf("c host ok\n");
  return 0;
}
