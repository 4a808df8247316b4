// Channels over a byte stream with our own framing: serial and USB-serial devices,
// pseudo-terminals, TCP on loopback, and Bluetooth RFCOMM.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "link/channel.hpp"

namespace kiv {

// target: "serial:DEVICE" or "tcp:HOST:PORT" (from KIVMOD_LINK), or empty to use the
// transfer method, COM port and Bluetooth address of settings.
std::unique_ptr<Channel> MakeStreamChannel(std::string_view target, const LinkSettings& settings,
                                           std::string& error);

}  // namespace kiv
