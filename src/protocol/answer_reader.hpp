// A bounded cursor over an answer body: every read checks the answer's length first.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "link/packet.hpp"
#include "protocol/codec.hpp"

namespace kiv {

class AnswerReader {
 public:
  // Starts after the result byte unless told otherwise.
  explicit AnswerReader(const CGenPacket& answer, std::size_t offset = 1)
      : body_(answer.Body()), pos_(offset) {}
  explicit AnswerReader(std::span<const uint8_t> body, std::size_t offset = 1) : body_(body), pos_(offset) {}

  bool Unpack(std::string_view format, std::initializer_list<UnpackArg> args) {
    if (pos_ > body_.size()) return false;
    int n = kiv::Unpack(body_.subspan(pos_), format, args);
    if (n < 0) return false;
    pos_ += static_cast<std::size_t>(n);
    return true;
  }
  bool Byte(uint8_t& v) { return Unpack("b", {&v}); }
  bool U16(uint16_t& v) { return Unpack("w", {&v}); }
  bool U32(uint32_t& v) { return Unpack("d", {&v}); }
  // A NUL-terminated UTF-16LE text of at most maxUnits units.
  bool Text16(std::u16string& out, std::size_t maxUnits = kMaxUnpackTextUnits) {
    out.clear();
    for (;;) {
      if (pos_ + 2 > body_.size()) return false;
      char16_t c = static_cast<char16_t>(body_[pos_] | (body_[pos_ + 1] << 8));
      pos_ += 2;
      if (c == 0) return true;
      if (out.size() == maxUnits) return false;
      out.push_back(c);
    }
  }
  bool Skip(std::size_t n) {
    if (pos_ + n > body_.size()) return false;
    pos_ += n;
    return true;
  }
  std::size_t Offset() const { return pos_; }
  std::size_t Remaining() const { return pos_ < body_.size() ? body_.size() - pos_ : 0; }
  std::span<const uint8_t> Rest() const { return pos_ < body_.size() ? body_.subspan(pos_) : std::span<const uint8_t>(); }

 private:
  std::span<const uint8_t> body_;
  std::size_t pos_;
};

}  // namespace kiv
