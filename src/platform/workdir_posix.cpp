// The work folder off Windows: KIVMOD_WORKDIR, else $XDG_STATE_HOME/kivmod, else
// ~/.local/state/kivmod, made on first use.
#include "platform/workdir.hpp"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/text.hpp"
#include "platform/trace.hpp"

namespace kiv {
namespace {

std::filesystem::path WorkFolder() {
  auto nonEmpty = [](const char* name) -> const char* {
    const char* v = std::getenv(name);
    return v && *v ? v : nullptr;
  };
  if (const char* dir = nonEmpty("KIVMOD_WORKDIR")) return dir;
  if (const char* state = nonEmpty("XDG_STATE_HOME")) return std::filesystem::path(state) / "kivmod";
  if (const char* home = nonEmpty("HOME")) return std::filesystem::path(home) / ".local" / "state" / "kivmod";
  return {};
}

}  // namespace

std::u16string WorkFilePath(std::u16string_view fileName) {
  std::filesystem::path folder = WorkFolder();
  if (folder.empty()) {
    Trace("work folder: neither KIVMOD_WORKDIR, XDG_STATE_HOME nor HOME is set\n");
    return {};
  }
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder, error)) {
    TraceF("work folder %s cannot be made\n", folder.c_str());
    return {};
  }
  return Utf8ToU16((folder / U16ToUtf8(fileName)).string());
}

}  // namespace kiv
