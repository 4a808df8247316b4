// A phone link that answers from the input under test: each request gets the next answer
// of the script, and a request after the last answer gets none (a time-out). The script is
// a run of answers, each a little-endian 16-bit length and that many body bytes (fewer when
// the input ends first). An answer echoes the request's class and code, so that the
// procedures read its body rather than stop at a wrong header; for commands that answer
// with their code (e-mail), each answer starts with its code byte instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "null_link.hpp"

namespace fuzz {

class ScriptedAnswers : public kivtest::NullLink {
 public:
  void Load(const uint8_t* data, std::size_t size, bool codeFromScript = false) {
    data_ = data;
    size_ = size;
    codeFromScript_ = codeFromScript;
  }
  int PktSend(const kiv::CGenPacket& request) override {
    cls_ = request.GetClass();
    code_ = request.GetCode();
    return 1;
  }
  int PktRead(kiv::CGenPacket& answer) override {
    uint8_t code = code_;
    if (codeFromScript_ && size_ > 0) {
      code = data_[0];
      ++data_;
      --size_;
    }
    if (size_ < 2) return 0;
    std::size_t length = data_[0] | static_cast<std::size_t>(data_[1]) << 8;
    data_ += 2;
    size_ -= 2;
    if (length > size_) length = size_;
    answer.SetHeader(cls_, code, 1, 0);
    answer.MutableBody().assign(data_, data_ + length);
    data_ += length;
    size_ -= length;
    return 1;
  }

 private:
  const uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  uint8_t cls_ = 0;
  uint8_t code_ = 0;
  bool codeFromScript_ = false;
};

// The script link, installed as the current link on first use.
inline ScriptedAnswers& InstalledScript() {
  static auto link = [] {
    auto made = std::make_shared<ScriptedAnswers>();
    kiv::InstallLink(made);
    return made;
  }();
  return *link;
}

}  // namespace fuzz
