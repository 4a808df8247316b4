// Serial devices: terminals, USB-serial adapters and pseudo-terminals, opened raw through
// termios.
#pragma once

#include <termios.h>

#include <optional>
#include <string>
#include <utility>

#include "platform/unique_fd.hpp"

namespace kiv {

// The termios speed of a baud rate; nothing for a rate termios has no constant for.
std::optional<speed_t> BaudToSpeed(int rate);

// Opens a terminal device raw (8N1, no flow control, no echo, no line editing) at the given
// rate, non-blocking. A rate without a termios constant falls back to 115200; pseudo-terminals
// take any rate. Invalid fd and a reason on failure.
UniqueFd OpenSerialPort(const std::string& device, int baudrate, std::string& error);

}  // namespace kiv
