#include "platform/bluetooth_socket.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace kiv {

std::string FormatBtAddress(const BtAddress& address) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < address.size(); ++i) {
    if (i) text += ':';
    text += kHex[address[i] >> 4];
    text += kHex[address[i] & 0xF];
  }
  return text;
}

std::optional<BtAddress> ParseBtAddress(std::string_view text) {
  if (text.size() != 17) return std::nullopt;
  BtAddress address{};
  for (std::size_t i = 0; i < 6; ++i) {
    const char* p = text.data() + i * 3;
    if (i && p[-1] != ':' && p[-1] != '-') return std::nullopt;
    unsigned value = 0;
    auto [end, ec] = std::from_chars(p, p + 2, value, 16);
    if (ec != std::errc() || end != p + 2) return std::nullopt;
    address[i] = static_cast<uint8_t>(value);
  }
  return address;
}

BtAddress BdaddrBytes(const BtAddress& written) {
  BtAddress out;
  std::reverse_copy(written.begin(), written.end(), out.begin());
  return out;
}

std::optional<RfcommTarget> MakeRfcommTarget(const BtAddress& hostBytes, bool fromHost, std::string& error) {
  RfcommTarget target;
  target.address = hostBytes;
  if (const char* order = std::getenv("KIVMOD_BT_BYTE_ORDER"); fromHost && order && *order) {
    std::string_view o = order;
    if (o == "lsb") {
      target.address = BdaddrBytes(hostBytes);
    } else if (o != "msb") {
      error = "KIVMOD_BT_BYTE_ORDER must be msb or lsb, not " + std::string(o);
      return std::nullopt;
    }
  }
  if (std::all_of(hostBytes.begin(), hostBytes.end(), [](uint8_t b) { return b == 0; })) {
    error = "no Bluetooth device address was set";
    return std::nullopt;
  }
  target.bdaddr = BdaddrBytes(target.address);
  if (const char* ch = std::getenv("KIVMOD_BT_CHANNEL"); ch && *ch) {
    std::string_view c = ch;
    int value = 0;
    auto [end, ec] = std::from_chars(c.data(), c.data() + c.size(), value);
    if (ec != std::errc() || end != c.data() + c.size() || value < 1 || value > 30) {
      error = "KIVMOD_BT_CHANNEL must be an RFCOMM channel 1..30, not " + std::string(c);
      return std::nullopt;
    }
    target.channel = static_cast<uint8_t>(value);
  }
  return target;
}

}  // namespace kiv
