#include "phonesim/phone.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

#include "phonesim/body.hpp"
#include "phonesim/families.hpp"
#include "phonesim/transfer_paths.hpp"

namespace phonesim {

Phone::Phone(std::filesystem::path root, Config config)
    : root_(std::move(root)), config_(std::move(config)), faultHits_(config_.faults.size(), 0) {}

int Phone::Connect(std::string_view) {
  if (config_.locked) return -2;
  Settle();
  heldFile.reset();  // request numbers start again: a file held from before must not match
  linkUp_ = true;
  packets_ = 0;
  ForgetUsedBytes();
  return 1;
}

std::array<uint8_t, 168> Phone::PhoneInfo() const {
  std::array<uint8_t, 168> info{};
  info[0] = 1;
  std::size_t n = std::min<std::size_t>(config_.model.size(), info.size() - 2);
  std::copy_n(config_.model.begin(), n, info.begin() + 1);
  return info;
}

void Phone::Settle() { WriteAnsweredPiece(*this); }

std::optional<Packet> Phone::Handle(const Packet& request) {
  Settle();
  if (!linkUp_) return std::nullopt;
  if (config_.dropAfterPackets >= 0 && packets_ >= config_.dropAfterPackets) {
    linkUp_ = false;
    return std::nullopt;
  }
  ++packets_;
  if (config_.delayMs) std::this_thread::sleep_for(std::chrono::milliseconds(config_.delayMs));
  Packet answer = Dispatch(request);
  if (!KeepsUsedBytes(request.code)) ForgetUsedBytes();
  if (answer.unanswered) return std::nullopt;
  // Faults are set by command code of the file protocol; e-mail packets have codes of their own.
  if (request.cls != kMailClass) ApplyFaults(answer, request.code);
  return answer;
}

Packet Phone::Answer(const Packet& request, uint8_t result) const {
  Packet answer;
  answer.cls = request.cls;
  answer.code = request.code;
  answer.flag = request.flag;
  answer.seq = request.seq;
  answer.body.push_back(result);
  return answer;
}

void Phone::ApplyFaults(Packet& answer, uint8_t code) {
  for (std::size_t i = 0; i < config_.faults.size(); ++i) {
    const Fault& f = config_.faults[i];
    if (f.code != code || (f.times >= 0 && faultHits_[i] >= f.times)) continue;
    ++faultHits_[i];
    switch (f.kind) {
      case Fault::Kind::Refuse:
        answer.cls = 0;
        answer.code = kRefusedCode;
        break;
      case Fault::Kind::Result:
        if (answer.body.empty()) answer.body.push_back(f.result);
        answer.body[0] = f.result;
        break;
      case Fault::Kind::Truncate:
        if (answer.body.size() > f.length) answer.body.resize(f.length);
        break;
    }
  }
}

Packet Phone::Dispatch(const Packet& request) {
  if (auto answer = HandleEmailCommands(*this, request)) return std::move(*answer);
  if (auto answer = HandleBackupCommands(*this, request)) return std::move(*answer);
  switch (request.code) {
    case 0x01: return Handshake(request);
    case 0x02: return RootFolders(request);
    default: break;
  }
  if (auto answer = HandleFileCommands(*this, request)) return std::move(*answer);
  if (auto answer = HandleTransferCommands(*this, request)) return std::move(*answer);
  if (auto answer = HandleMediaCommands(*this, request)) return std::move(*answer);
  if (auto answer = HandleJavaCommands(*this, request)) return std::move(*answer);
  return Answer(request, 0x00);  // unknown command: failure result
}

Packet Phone::Handshake(const Packet& request) {
  Packet answer = Answer(request, 0x01);
  BodyWriter w;
  const MemoryLimits& in = config_.internal;
  if (config_.version == 0) {
    w.U32(config_.maxPacket);
    w.U32(in.fileName);
    w.Text(config_.typeTable);
  } else {
    w.U32(0xFFFFFFFFu);
    w.Byte(static_cast<uint8_t>(config_.version));
    w.U32(config_.maxPacket);
    w.U32(in.fileName);
    w.Text(config_.typeTable);
    w.U32(in.folderName);
    w.U32(in.path);
    w.Byte(in.depth);
    w.Byte(config_.hasCard ? 1 : 0);
    if (config_.hasCard) {
      const MemoryLimits& card = config_.card;
      w.Byte(card.depth);
      w.U32(card.folderName);
      w.U32(card.fileName);
      w.U32(card.path);
      w.Text(config_.cardName);
    }
  }
  auto bytes = w.Take();
  answer.body.insert(answer.body.end(), bytes.begin(), bytes.end());
  return answer;
}

std::u16string Phone::RootListText() const {
  std::vector<RootFolder> roots = config_.roots;
  if (roots.empty()) {
    std::error_code ec;
    std::vector<std::u16string> names;
    for (const auto& entry : std::filesystem::directory_iterator(root_, ec))
      if (entry.is_directory(ec)) names.push_back(entry.path().filename().u16string());
    std::sort(names.begin(), names.end());
    for (auto& name : names) roots.push_back(RootFolder{name, 3, {}});
  }
  std::u16string text;
  for (const RootFolder& r : roots) {
    if (!text.empty()) text += u'/';
    text += r.name;
    text += u'|';
    for (char c : std::to_string(r.mode)) text += static_cast<char16_t>(c);
    if (r.exts.empty()) {
      text += u"|*";
    } else {
      for (const auto& ext : r.exts) text += u'|' + ext;
    }
  }
  return text;
}

Packet Phone::RootFolders(const Packet& request) {
  Packet answer = Answer(request, 0x01);
  std::u16string text = RootListText();
  BodyWriter w;
  w.U16(static_cast<uint16_t>(text.size()));
  w.Text(text);
  auto bytes = w.Take();
  answer.body.insert(answer.body.end(), bytes.begin(), bytes.end());
  return answer;
}

}  // namespace phonesim
