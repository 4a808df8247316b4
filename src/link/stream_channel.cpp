#include "link/stream_channel.hpp"

namespace kiv {

std::unique_ptr<Channel> MakeStreamChannel(std::string_view, const LinkSettings&, std::string& error) {
  error = "byte-stream links are not available in this build";
  return nullptr;
}

}  // namespace kiv
