// The message box: a host-settable handler; by default the text goes to standard error.
#pragma once

#include <string_view>

namespace kiv {

void ShowMessageBox(std::u16string_view text, std::u16string_view caption);
// The system's own message box, shown when the host set no handler.
void ShowSystemMessageBox(std::u16string_view text, std::u16string_view caption);

}  // namespace kiv
