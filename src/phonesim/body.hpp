// The phone's side of body encoding: little-endian numbers and UTF-16LE texts, written and
// read the way a phone does, independently of the library's own codec.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace phonesim {

class BodyWriter {
 public:
  void Byte(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v) {
    Byte(static_cast<uint8_t>(v));
    Byte(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
  }
  // UTF-16LE units and a 0 unit.
  void Text(std::u16string_view text) {
    for (char16_t c : text) U16(c);
    U16(0);
  }
  void Raw(std::span<const uint8_t> bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
  std::size_t Size() const { return out_.size(); }
  std::vector<uint8_t> Take() { return std::move(out_); }

 private:
  std::vector<uint8_t> out_;
};

// Reads a request body; every read checks the remaining length and fails instead.
class BodyReader {
 public:
  explicit BodyReader(std::span<const uint8_t> body) : body_(body) {}
  bool Byte(uint8_t& v) {
    if (pos_ + 1 > body_.size()) return false;
    v = body_[pos_++];
    return true;
  }
  bool U16(uint16_t& v) {
    if (pos_ + 2 > body_.size()) return false;
    v = static_cast<uint16_t>(body_[pos_] | (body_[pos_ + 1] << 8));
    pos_ += 2;
    return true;
  }
  bool U32(uint32_t& v) {
    uint16_t lo = 0, hi = 0;
    if (pos_ + 4 > body_.size() || !U16(lo) || !U16(hi)) return false;
    v = lo | (static_cast<uint32_t>(hi) << 16);
    return true;
  }
  // A text with a length prefix of prefixBytes (1 or 2) counting units or bytes, then the
  // units and a 0 unit.
  bool Text(int prefixBytes, bool lengthInBytes, std::u16string& out) {
    uint32_t length = 0;
    if (prefixBytes == 1) {
      uint8_t b = 0;
      if (!Byte(b)) return false;
      length = b;
    } else {
      uint16_t w = 0;
      if (!U16(w)) return false;
      length = w;
    }
    uint32_t units = lengthInBytes ? length / 2 : length;
    if (units == 0) return false;
    out.clear();
    for (uint32_t i = 0; i < units; ++i) {
      uint16_t c = 0;
      if (!U16(c)) return false;
      if (i + 1 == units) return c == 0;
      out.push_back(static_cast<char16_t>(c));
    }
    return true;
  }
  // A bare NUL-terminated UTF-16LE text.
  bool ZText(std::u16string& out) {
    out.clear();
    for (;;) {
      uint16_t c = 0;
      if (!U16(c)) return false;
      if (c == 0) return true;
      out.push_back(static_cast<char16_t>(c));
    }
  }
  std::span<const uint8_t> Rest() const { return body_.subspan(pos_); }
  std::size_t Remaining() const { return body_.size() - pos_; }

 private:
  std::span<const uint8_t> body_;
  std::size_t pos_ = 0;
};

}  // namespace phonesim
