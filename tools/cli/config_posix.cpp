// The configuration file on POSIX systems: $XDG_CONFIG_HOME/kivmod/config, read with inih.
#include "config.hpp"

#include <ini.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace cli {

std::string ConfigPath() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return std::string(xdg) + "/kivmod/config";
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config/kivmod/config";
  return {};
}

int ReadIniFile(const std::string& path, IniHandler onValue, void* user, std::string& why) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "r"), &std::fclose);
  if (!file) {
    if (errno == ENOENT || errno == ENOTDIR) return 0;
    why = std::strerror(errno);
    return kIniUnreadable;
  }
  return ini_parse_file(file.get(), onValue, user);
}

}  // namespace cli
