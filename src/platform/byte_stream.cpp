#include "platform/byte_stream.hpp"

#include <charconv>

namespace kiv {

bool SplitHostPort(std::string_view text, std::string& host, uint16_t& port) {
  auto colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  std::string_view h = text.substr(0, colon);
  std::string_view p = text.substr(colon + 1);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  unsigned value = 0;
  auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), value);
  if (p.empty() || ec != std::errc() || end != p.data() + p.size() || value == 0 || value > 65535) return false;
  host.assign(h);
  port = static_cast<uint16_t>(value);
  return !host.empty();
}

}  // namespace kiv
