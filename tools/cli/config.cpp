#include "config.hpp"

#include <ini.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "diagnose.hpp"
#include "host.hpp"

namespace cli {
namespace {

std::string ConfigPath() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return std::string(xdg) + "/kivmod/config";
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config/kivmod/config";
  return {};
}

bool Number(const char* text, int low, int high, int& out) {
  const char* end = text + std::strlen(text);
  auto [stop, ec] = std::from_chars(text, end, out);
  return ec == std::errc() && stop == end && out >= low && out <= high;
}

struct Reading {
  LinkOptions& options;
  std::string path;
  std::string problem;
};

int OnValue(void* user, const char* section, const char* name, const char* value) {
  auto& r = *static_cast<Reading*>(user);
  const std::string key = *section ? std::string(section) + "." + name : std::string(name);
  auto bad = [&](const std::string& why) {
    if (r.problem.empty()) r.problem = key + " = " + value + ": " + why;
    return 0;
  };
  if (*section && std::strcmp(section, "phone") != 0) return bad("unknown section (use [phone] or none)");
  if (std::strcmp(name, "link") == 0) {
    std::string why;
    if (!WellFormedLink(value, why)) return bad(why);
    r.options.link = value;
  } else if (std::strcmp(name, "port") == 0) {
    if (!Number(value, 1, 255, r.options.port)) return bad("a COM port number from 1 to 255");
  } else if (std::strcmp(name, "bluetooth") == 0) {
    if (!ParseBluetoothAddress(value, r.options.address)) return bad("not a Bluetooth address (aa:bb:cc:dd:ee:ff)");
    r.options.bluetooth = true;
  } else if (std::strcmp(name, "wait") == 0) {
    int ms = 0;
    if (!Number(value, 1, 600000, ms)) return bad("the answer wait in milliseconds (1 to 600000)");
    setenv("KIVMOD_CONNECT_WAIT_MS", value, 0);  // the environment's own value wins
  } else {
    return bad("unknown key (link, port, bluetooth, wait)");
  }
  return 1;
}

}  // namespace

bool ReadConfig(LinkOptions& options, std::string& problem) {
  Reading r{options, ConfigPath(), {}};
  if (r.path.empty()) return true;
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(r.path.c_str(), "r"), &std::fclose);
  if (!file) {
    if (errno == ENOENT || errno == ENOTDIR) return true;
    problem = "cannot read " + r.path + ": " + std::strerror(errno);
    return false;
  }
  const int line = ini_parse_file(file.get(), OnValue, &r);
  if (line == 0) return true;
  problem = r.path + ":" + std::to_string(line) + ": " + (r.problem.empty() ? "not an INI line" : r.problem);
  return false;
}

}  // namespace cli
