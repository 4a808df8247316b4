// One request or answer packet of the phone link: an 8-byte header (class, code, flag,
// sequence, a reserved 16-bit word, body length) and a body whose first byte, in an answer,
// is the result code.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kiv {

class CGenPacket {
 public:
  static constexpr std::size_t kHeaderSize = 8;
  static constexpr std::size_t kMaxBody = 65535;

  CGenPacket() = default;
  CGenPacket(uint8_t cls, uint8_t code, int32_t flag, uint8_t seq, uint16_t reserved,
             const uint8_t* body, uint16_t length) {
    SetPacket(cls, code, flag, seq, reserved, body, length);
  }

  void SetPacket(uint8_t cls, uint8_t code, int32_t flag, uint8_t seq, uint16_t reserved,
                 const uint8_t* body, uint16_t length) {
    cls_ = cls;
    code_ = code;
    flag_ = flag;
    seq_ = seq;
    reserved_ = reserved;
    if (body && length) {
      body_.assign(body, body + length);
    } else {
      body_.clear();
    }
  }

  // Body pointer, null when the packet has no body.
  const uint8_t* GetData() const { return body_.empty() ? nullptr : body_.data(); }
  uint16_t GetDataLength() const { return static_cast<uint16_t>(body_.size()); }
  std::span<const uint8_t> Body() const { return body_; }
  // Header plus body; wider than 16 bits so that a full body cannot wrap it.
  uint32_t GetPacketLength() const { return static_cast<uint32_t>(kHeaderSize + body_.size()); }
  uint8_t GetClass() const { return cls_; }
  uint8_t GetCode() const { return code_; }
  int32_t GetFlag() const { return flag_; }
  uint8_t GetSeq() const { return seq_; }
  std::array<uint8_t, kHeaderSize> GetHeader() const {
    auto len = GetDataLength();
    return {cls_, code_, static_cast<uint8_t>(flag_), seq_, static_cast<uint8_t>(reserved_),
            static_cast<uint8_t>(reserved_ >> 8), static_cast<uint8_t>(len), static_cast<uint8_t>(len >> 8)};
  }

  // Empties the packet for the next answer, keeping the body's storage.
  void Reset() {
    SetHeader(0, 0, 0, 0);
    reserved_ = 0;
    body_.clear();
  }

  // Fills an answer in place (reusing the body's storage).
  std::vector<uint8_t>& MutableBody() { return body_; }
  void SetHeader(uint8_t cls, uint8_t code, int32_t flag, uint8_t seq) {
    cls_ = cls;
    code_ = code;
    flag_ = flag;
    seq_ = seq;
  }

 private:
  uint8_t cls_ = 0;
  uint8_t code_ = 0;
  int32_t flag_ = 0;
  uint8_t seq_ = 0;
  uint16_t reserved_ = 0;
  std::vector<uint8_t> body_;
};

}  // namespace kiv
