// kivmod detect: the serial and USB-serial devices on which a phone answers the handshake,
// and the paired Bluetooth phones.
#pragma once

#include <string>
#include <vector>

#include "commands.hpp"

namespace cli {

// Tries each device (default: /dev/ttyUSB*, /dev/ttyACM*, /dev/rfcomm*; on Windows the ports
// COM1 to COM32 that exist) and lists those where
// a phone answers, with its model and protocol version; with no device named, also the paired
// Bluetooth phones with their serial port channel. Exit 0 when one was found, else 3.
int Detect(Host& host, const Options& options, const std::vector<std::string>& devices);

}  // namespace cli
