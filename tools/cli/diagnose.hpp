// Why a connection failed: the link the tool tried, checked the way the library would open
// it, so that the message names the device or address and the system's error.
#pragma once

#include <string>

namespace cli {

struct LinkOptions;

// Whether a link text is well formed ("sim:FOLDER", "serial:DEVICE", "tcp:HOST:PORT",
// "bt:ADDR"); otherwise problem says what is wrong with it.
bool WellFormedLink(const std::string& link, std::string& problem);

// The sentence for a connection that did not open: the link or device tried and why.
std::string ConnectFailure(const LinkOptions& options);

}  // namespace cli
