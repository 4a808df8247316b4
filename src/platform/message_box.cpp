#include "platform/message_box.hpp"

#include <string>

#include "kivmod/kivmod.h"
#include "platform/text.hpp"

namespace kiv {
namespace {

struct Handler {
  KivMessageBoxProc proc = nullptr;
  void* user = nullptr;
};
Handler g_handler;

}  // namespace

void SetMessageBoxHandler(KivMessageBoxProc proc, void* user) { g_handler = {proc, user}; }

void ShowMessageBox(std::u16string_view text, std::u16string_view caption) {
  if (g_handler.proc) {
    std::u16string t(text), c(caption);
    g_handler.proc(g_handler.user, AsKiv(t.c_str()), AsKiv(c.c_str()));
    return;
  }
  ShowSystemMessageBox(text, caption);
}

}  // namespace kiv
