// Bluetooth RFCOMM (serial port profile) connections of the byte-stream links.
//
// The host hands over the device address as 6 bytes in the order it is written,
// most significant first: {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13} is 00:1A:7D:DA:71:13.
// BlueZ's bdaddr_t holds the same address least significant first; BdaddrBytes turns one
// into the other. Hosts that already pass the reversed order set KIVMOD_BT_BYTE_ORDER=lsb.
// The RFCOMM channel is KIVMOD_BT_CHANNEL (1..30), 1 when unset.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kiv {

using BtAddress = std::array<uint8_t, 6>;

inline constexpr int kDefaultRfcommChannel = 1;

// "00:1A:7D:DA:71:13" from an address in written order.
std::string FormatBtAddress(const BtAddress& address);
// The written form back (either case, ':' or '-' between pairs).
std::optional<BtAddress> ParseBtAddress(std::string_view text);

// Where to connect: the address in written order and as bdaddr_t bytes, and the channel.
struct RfcommTarget {
  BtAddress address{};
  BtAddress bdaddr{};
  uint8_t channel = kDefaultRfcommChannel;
};

// The bdaddr_t bytes (least significant first) of an address in written order.
BtAddress BdaddrBytes(const BtAddress& written);

// The target for an address and KIVMOD_BT_CHANNEL. Bytes from the host (fromHost) follow
// KIVMOD_BT_BYTE_ORDER; a parsed address is in written order already. Nothing (and a
// reason) for an all-zero address or a bad setting.
std::optional<RfcommTarget> MakeRfcommTarget(const BtAddress& bytes, bool fromHost, std::string& error);

// True when this build can open RFCOMM sockets.
bool BluetoothSupported();

}  // namespace kiv
