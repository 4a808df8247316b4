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

}  // namespace cli
