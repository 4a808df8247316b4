// TCP connections of the byte-stream links ("tcp:HOST:PORT", loopback in practice).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.hpp"

namespace kiv {

// Connects within timeoutMs; the socket comes back non-blocking with Nagle's delay off.
UniqueFd ConnectTcp(std::string_view hostPort, int timeoutMs, std::string& error);

// Waits up to timeoutMs for a non-blocking connect on fd to finish; false with a reason.
bool FinishConnect(int fd, int timeoutMs, std::string& error);

}  // namespace kiv
