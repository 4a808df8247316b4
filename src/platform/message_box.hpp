// The message box: a host-settable handler; by default the text goes to standard error.
#pragma once

#include <string_view>

#include "kivmod/kivmod.h"

namespace kiv {

// The host's handler; null goes back to the system's message box.
void SetMessageBoxHandler(KivMessageBoxProc proc, void* user);
void ShowMessageBox(std::u16string_view text, std::u16string_view caption);
// The system's own message box, shown when the host set no handler.
void ShowSystemMessageBox(std::u16string_view text, std::u16string_view caption);

}  // namespace kiv
