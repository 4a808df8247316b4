// A built-in channel to the phone: what the built-in phone link needs from each kind of
// connection (the simulated phone in this process, or a framed byte stream).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "link/packet.hpp"

namespace kiv {

class Channel {
 public:
  virtual ~Channel() = default;
  // The connect identifier exchange: 1 connected, -2 phone locked, anything else failed.
  virtual int Open(std::string_view id) = 0;
  virtual bool IsOpen() = 0;
  virtual void Close() = 0;
  virtual bool Send(const CGenPacket& request) = 0;
  // 1 when an answer arrived within timeoutMs.
  virtual int Read(CGenPacket& answer, uint32_t timeoutMs) = 0;
  // Fills the 168-byte phone information record; 1 when filled.
  virtual int PhoneInfo(uint8_t* info) = 0;
  virtual int SetBackupTool() = 0;
};

// What the host set on the link before connecting.
struct LinkSettings {
  int method = 0;
  int comPort = 0;
  int baudrate = 115200;
  std::array<uint8_t, 6> btAddress{};
  bool bluetooth = false;  // a Bluetooth connect call (BTConnection, BTConnectionEx)
};

// Makes the channel for a connect: KIVMOD_LINK ("sim:FOLDER", "serial:DEVICE",
// "tcp:HOST:PORT") when set, else by transfer method and COM port. Null when none can be
// made; error gets a short reason.
std::unique_ptr<Channel> MakeChannel(const LinkSettings& settings, std::string& error);

// A maker of channels of one KIVMOD_LINK scheme that lives above this layer (the simulated
// phone in this process, "sim:"); it is given the text after the scheme's colon.
using ChannelMaker = std::unique_ptr<Channel> (*)(std::string_view rest, std::string& error);
// Adds or replaces the maker of a scheme (the text before the colon, e.g. "sim").
void RegisterChannelMaker(std::string_view scheme, ChannelMaker maker);

}  // namespace kiv
