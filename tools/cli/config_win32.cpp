// The configuration file on Windows: %APPDATA%\kivmod\config.ini, read with the system's
// profile functions. They see only keys under a section header ([phone]).
#include "config.hpp"

#include <windows.h>

#include <cstdlib>
#include <vector>

#include "text.hpp"

namespace cli {
namespace {

// A profile list: texts each ended by a NUL, the list by a second one. Grows until it fits.
std::vector<wchar_t> ProfileList(DWORD (*read)(wchar_t*, DWORD, const wchar_t*, const wchar_t*),
                                 const wchar_t* section, const std::wstring& path) {
  std::vector<wchar_t> buffer(4096);
  for (;;) {
    const DWORD n = read(buffer.data(), static_cast<DWORD>(buffer.size()), section, path.c_str());
    if (n + 2 < buffer.size()) {
      buffer.resize(n + 2);
      return buffer;
    }
    buffer.resize(buffer.size() * 4);
  }
}

DWORD SectionNames(wchar_t* out, DWORD size, const wchar_t*, const wchar_t* path) {
  return GetPrivateProfileSectionNamesW(out, size, path);
}
DWORD SectionKeys(wchar_t* out, DWORD size, const wchar_t* section, const wchar_t* path) {
  return GetPrivateProfileSectionW(section, out, size, path);
}

}  // namespace

std::string ConfigPath() {
  const wchar_t* appdata = _wgetenv(L"APPDATA");
  if (!appdata || !*appdata) return {};
  return Utf8(appdata) + "\\kivmod\\config.ini";
}

int ReadIniFile(const std::string& path, IniHandler onValue, void* user, std::string& why) {
  const std::wstring wide = Utf16(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;
    why = "system error " + std::to_string(error);
    return kIniUnreadable;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    why = "it is a folder";
    return kIniUnreadable;
  }
  const std::vector<wchar_t> sections = ProfileList(SectionNames, nullptr, wide);
  for (const wchar_t* section = sections.data(); *section; section += wcslen(section) + 1) {
    const std::vector<wchar_t> keys = ProfileList(SectionKeys, section, wide);
    for (const wchar_t* entry = keys.data(); *entry; entry += wcslen(entry) + 1) {
      const std::string line = Utf8(entry);
      const std::size_t eq = line.find('=');
      if (eq == std::string::npos || line[0] == ';' || line[0] == '#') continue;
      auto trim = [](std::string s) {
        s.erase(0, s.find_first_not_of(" \t"));
        s.erase(s.find_last_not_of(" \t") + 1);
        return s;
      };
      const std::string name = trim(line.substr(0, eq)), value = trim(line.substr(eq + 1));
      if (!onValue(user, Utf8(section).c_str(), name.c_str(), value.c_str())) return kIniNoLine;
    }
  }
  return 0;
}

}  // namespace cli
