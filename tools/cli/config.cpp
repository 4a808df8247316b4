#include "config.hpp"

#include <charconv>
#include <cstring>

#include "diagnose.hpp"
#include "host.hpp"
#include "system.hpp"

namespace cli {
namespace {

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
    SetEnv("KIVMOD_CONNECT_WAIT_MS", value, false);  // the environment's own value wins
  } else {
    return bad("unknown key (link, port, bluetooth, wait)");
  }
  return 1;
}

}  // namespace

bool ReadConfig(LinkOptions& options, std::string& problem) {
  Reading r{options, ConfigPath(), {}};
  if (r.path.empty()) return true;
  std::string why;
  const int line = ReadIniFile(r.path, OnValue, &r, why);
  if (line == 0) return true;
  if (line == kIniUnreadable)
    problem = "cannot read " + r.path + ": " + why;
  else
    problem = r.path + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " +
              (r.problem.empty() ? "not an INI line" : r.problem);
  return false;
}

}  // namespace cli
