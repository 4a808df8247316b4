// The simulated phone: serves a folder of the PC as the phone's memories and answers every
// request the way a phone does. It is reached in-process (the sim link) or over a byte
// stream (the kivmod-phonesim program).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "phonesim/config.hpp"

namespace phonesim {

struct Packet {
  uint8_t cls = 0;
  uint8_t code = 0;
  int32_t flag = 1;
  uint8_t seq = 0;
  std::vector<uint8_t> body;
};

inline constexpr uint8_t kClass = 0x20;
inline constexpr uint8_t kRefusedCode = 0x72;

class Phone {
 public:
  Phone(std::filesystem::path root, Config config);

  // The connect identifier exchange: 1 connected, -2 locked.
  int Connect(std::string_view id);
  bool LinkUp() const { return linkUp_; }
  void Disconnect() { linkUp_ = false; }
  // 168 bytes: byte 0 = 1, model name at offset 1 (8-bit, NUL-terminated).
  std::array<uint8_t, 168> PhoneInfo() const;
  int SetBackupTool() { return 1; }

  // One request, one answer; nothing when the link is down or goes down now.
  std::optional<Packet> Handle(const Packet& request);

  // An answer to request with the given result byte (class, code, flag and sequence echoed).
  Packet Answer(const Packet& request, uint8_t result) const;

  const Config& config() const { return config_; }
  Config& mutable_config() { return config_; }
  const std::filesystem::path& root() const { return root_; }

 private:
  Packet Dispatch(const Packet& request);
  void ApplyFaults(Packet& answer, uint8_t code);

  // Session commands.
  Packet Handshake(const Packet& request);
  Packet RootFolders(const Packet& request);
  std::u16string RootListText() const;

  std::filesystem::path root_;
  Config config_;
  bool linkUp_ = false;
  int packets_ = 0;
  std::vector<int> faultHits_;
};

}  // namespace phonesim
