// The work folder on Windows: KIVMOD_WORKDIR when set, else the folder of the module that
// holds the library (the DLL, or the program it is linked into).
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/text.hpp"
#include "platform/trace.hpp"
#include "platform/workdir.hpp"

namespace kiv {
namespace {

std::wstring ModuleFolder() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&WorkFilePath), &module))
    return {};
  // The name is cut to the buffer without saying so but by filling it: grow until it fits.
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
    if (size == 0) return {};
    if (size < name.size()) {
      name.resize(size);
      break;
    }
    if (name.size() >= 32768) return {};
    name.resize(name.size() * 2);
  }
  const std::size_t cut = name.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : name.substr(0, cut);
}

std::wstring WorkFolder() {
  const wchar_t* dir = _wgetenv(L"KIVMOD_WORKDIR");
  if (dir && *dir) return dir;
  return ModuleFolder();
}

}  // namespace

std::u16string WorkFilePath(std::u16string_view fileName) {
  std::wstring folder = WorkFolder();
  if (folder.empty()) {
    Trace("work folder: the library's module has no folder\n");
    return {};
  }
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!std::filesystem::is_directory(folder, error)) {
    TraceF("work folder %s cannot be made\n", U16ToUtf8(std::u16string(folder.begin(), folder.end())).c_str());
    return {};
  }
  if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  std::u16string path(folder.begin(), folder.end());
  return path.append(fileName);
}

}  // namespace kiv
