// The tool's configuration file: $XDG_CONFIG_HOME/kivmod/config (else ~/.config/kivmod/config),
// INI keys link, port, bluetooth and wait. The environment overrides it, the options override both.
#pragma once

#include <string>

namespace cli {

struct LinkOptions;

// Reads the file's link, port and Bluetooth address into options (the caller keeps what the
// environment and the options say instead) and sets KIVMOD_CONNECT_WAIT_MS from wait unless
// it is set. False, with problem set, when the file exists but cannot be read or holds a bad
// line or value; no file is fine.
bool ReadConfig(LinkOptions& options, std::string& problem);

// The system part (config_posix.cpp: inih, XDG folders; config_win32.cpp: the system's
// profile functions, %APPDATA%). The file's path, "" when there is no place for one.
std::string ConfigPath();
// A key's handler: nonzero to go on.
using IniHandler = int (*)(void* user, const char* section, const char* name, const char* value);
inline constexpr int kIniUnreadable = -1;
inline constexpr int kIniNoLine = -2;
// Calls onValue for each key of the INI file at path. 0 when it was read (or does not exist);
// the first bad line's number, kIniNoLine when a value was refused but the line is not known,
// kIniUnreadable with why set when the file cannot be read.
int ReadIniFile(const std::string& path, IniHandler onValue, void* user, std::string& why);

}  // namespace cli
