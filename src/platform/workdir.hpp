// The library's work folder: where the listing file "TempXML" and the resume list
// "ResumeFiles.txt" live. KIVMOD_WORKDIR names it; otherwise it is $XDG_STATE_HOME/kivmod,
// or ~/.local/state/kivmod, and on Windows the folder of the library's module. It is created
// on first use.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

// The full local path of a file in the work folder (UTF-16, the system's separators), creating the
// folder when it is missing. Empty when no folder can be found or made.
std::u16string WorkFilePath(std::u16string_view fileName);

}  // namespace kiv
