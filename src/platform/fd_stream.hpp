// The byte stream over one non-blocking POSIX descriptor (terminal device or socket).
#pragma once

#include <memory>

#include "platform/byte_stream.hpp"
#include "platform/unique_fd.hpp"

namespace kiv {

// Null when fd is not valid.
std::unique_ptr<ByteStream> MakeFdStream(UniqueFd fd);

}  // namespace kiv
