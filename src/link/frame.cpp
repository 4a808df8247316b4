#include "link/frame.hpp"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace kiv {
namespace {

// Slicing-by-8 tables of the reflected Castagnoli polynomial.
struct Crc32cTables {
  uint32_t t[8][256];
  constexpr Crc32cTables() : t{} {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
      t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i) {
      for (int s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    }
  }
};
constexpr Crc32cTables kCrc32c;

struct Crc16Table {
  uint16_t t[256];
  constexpr Crc16Table() : t{} {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i << 8;
      for (int k = 0; k < 8; ++k) c = (c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1;
      t[i] = static_cast<uint16_t>(c);
    }
  }
};
constexpr Crc16Table kCrc16;

uint32_t Crc32cRawTable(const uint8_t* p, std::size_t n, uint32_t c) {
  while (n >= 8) {
    uint32_t lo = c ^ (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
    c = kCrc32c.t[7][lo & 0xFF] ^ kCrc32c.t[6][(lo >> 8) & 0xFF] ^ kCrc32c.t[5][(lo >> 16) & 0xFF] ^
        kCrc32c.t[4][lo >> 24] ^ kCrc32c.t[3][p[4]] ^ kCrc32c.t[2][p[5]] ^ kCrc32c.t[1][p[6]] ^
        kCrc32c.t[0][p[7]];
    p += 8;
    n -= 8;
  }
  while (n--) c = (c >> 8) ^ kCrc32c.t[0][(c ^ *p++) & 0xFF];
  return c;
}

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) uint32_t Crc32cRawHardware(const uint8_t* p, std::size_t n, uint32_t c) {
  uint64_t c64 = c;
  while (n >= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    c64 = _mm_crc32_u64(c64, word);
    p += 8;
    n -= 8;
  }
  c = static_cast<uint32_t>(c64);
  while (n--) c = _mm_crc32_u8(c, *p++);
  return c;
}

bool HaveCrcInstruction() {
  static const bool have = __builtin_cpu_supports("sse4.2");
  return have;
}
#endif

void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

bool KnownKind(uint8_t kind) { return kind >= 0x01 && kind <= 0x05; }

// Offsets inside a frame.
constexpr std::size_t kKindAt = 2;
constexpr std::size_t kHeaderAt = 3;
constexpr std::size_t kHeaderCheckAt = kHeaderAt + CGenPacket::kHeaderSize;

}  // namespace

uint32_t Crc32cTable(std::span<const uint8_t> data, uint32_t crc) {
  return ~Crc32cRawTable(data.data(), data.size(), ~crc);
}

uint32_t Crc32c(std::span<const uint8_t> data, uint32_t crc) {
#if defined(__x86_64__)
  if (HaveCrcInstruction()) return ~Crc32cRawHardware(data.data(), data.size(), ~crc);
#endif
  return Crc32cTable(data, crc);
}

uint16_t Crc16Ccitt(std::span<const uint8_t> data, uint16_t crc) {
  for (uint8_t b : data) crc = static_cast<uint16_t>((crc << 8) ^ kCrc16.t[((crc >> 8) ^ b) & 0xFF]);
  return crc;
}

bool EncodeFrame(FrameKind kind, bool answer, const FrameHeader& header, std::span<const uint8_t> body,
                 std::vector<uint8_t>& out) {
  if (body.size() > CGenPacket::kMaxBody) return false;
  std::size_t start = out.size();
  out.resize(start + kFrameOverhead + body.size());
  uint8_t* f = out.data() + start;
  f[0] = kFrameMarker[0];
  f[1] = kFrameMarker[1];
  f[kKindAt] = static_cast<uint8_t>(static_cast<uint8_t>(kind) | (answer ? kFrameAnswerBit : 0));
  uint8_t* h = f + kHeaderAt;
  h[0] = header.cls;
  h[1] = header.code;
  h[2] = header.flag;
  h[3] = header.seq;
  PutLe16(h + 4, header.reserved);
  PutLe16(h + 6, static_cast<uint16_t>(body.size()));
  std::span<const uint8_t> covered(f + kKindAt, 1 + CGenPacket::kHeaderSize);
  PutLe16(f + kHeaderCheckAt, Crc16Ccitt(covered));
  if (!body.empty()) std::memcpy(f + kFramePrefixSize, body.data(), body.size());
  uint32_t check = Crc32c(body, Crc32c(covered));
  uint8_t* c = f + kFramePrefixSize + body.size();
  for (int i = 0; i < 4; ++i) c[i] = static_cast<uint8_t>(check >> (8 * i));
  return true;
}

bool EncodePacket(const CGenPacket& packet, bool answer, std::vector<uint8_t>& out) {
  FrameHeader header{packet.GetClass(), packet.GetCode(), static_cast<uint8_t>(packet.GetFlag()), packet.GetSeq(),
                     0};
  auto raw = packet.GetHeader();
  header.reserved = GetLe16(raw.data() + 4);
  return EncodeFrame(FrameKind::kPacket, answer, header, packet.Body(), out);
}

void FrameToPacket(Frame&& frame, CGenPacket& packet) {
  packet.SetHeader(frame.header.cls, frame.header.code, frame.header.flag, frame.header.seq);
  packet.MutableBody() = std::move(frame.body);
}

std::array<uint8_t, 1> ConnectAnswerBody(int result) { return {static_cast<uint8_t>(static_cast<int8_t>(result))}; }

int ConnectAnswerResult(std::span<const uint8_t> body) {
  return body.empty() ? 0 : static_cast<int8_t>(body[0]);
}

std::array<uint8_t, 4> BackupToolAnswerBody(int32_t result) {
  auto v = static_cast<uint32_t>(result);
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

int32_t BackupToolAnswerResult(std::span<const uint8_t> body) {
  if (body.size() < 4) return 0;
  return static_cast<int32_t>(uint32_t{body[0]} | uint32_t{body[1]} << 8 | uint32_t{body[2]} << 16 |
                              uint32_t{body[3]} << 24);
}

void FrameDecoder::Feed(std::span<const uint8_t> bytes) {
  if (pos_ == buf_.size()) {
    buf_.clear();
    pos_ = 0;
  }
  buf_.insert(buf_.end(), bytes.begin(), bytes.end());
}

void FrameDecoder::Reset() {
  buf_.clear();
  pos_ = 0;
}

void FrameDecoder::Compact() {
  if (pos_ == buf_.size()) {
    buf_.clear();
    pos_ = 0;
  } else if (pos_ >= 65536 || pos_ * 2 >= buf_.size()) {
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(pos_));
    pos_ = 0;
  }
}

std::optional<Frame> FrameDecoder::Next() {
  for (;;) {
    // Up to the next first marker byte.
    const uint8_t* begin = buf_.data() + pos_;
    std::size_t avail = buf_.size() - pos_;
    const void* hit = avail ? std::memchr(begin, kFrameMarker[0], avail) : nullptr;
    if (!hit) {
      Skip(avail);
      Compact();
      return std::nullopt;
    }
    Skip(static_cast<std::size_t>(static_cast<const uint8_t*>(hit) - begin));
    const uint8_t* f = buf_.data() + pos_;
    avail = buf_.size() - pos_;
    if (avail >= 2 && f[1] != kFrameMarker[1]) {
      Skip(1);
      continue;
    }
    if (avail < kFramePrefixSize) break;

    std::span<const uint8_t> covered(f + kKindAt, 1 + CGenPacket::kHeaderSize);
    uint8_t kindByte = f[kKindAt];
    uint8_t kind = kindByte & static_cast<uint8_t>(~kFrameAnswerBit);
    std::size_t length = GetLe16(f + kHeaderAt + 6);
    std::size_t limit = kind == static_cast<uint8_t>(FrameKind::kPacket) ? maxBody_ : kMaxControlBody;
    if (GetLe16(f + kHeaderCheckAt) != Crc16Ccitt(covered) || !KnownKind(kind) || length > limit) {
      ++rejected_;
      Skip(1);
      continue;
    }
    if (avail < kFrameOverhead + length) break;
    std::span<const uint8_t> body(f + kFramePrefixSize, length);
    const uint8_t* c = f + kFramePrefixSize + length;
    uint32_t stored = uint32_t{c[0]} | uint32_t{c[1]} << 8 | uint32_t{c[2]} << 16 | uint32_t{c[3]} << 24;
    if (stored != Crc32c(body, Crc32c(covered))) {
      ++rejected_;
      Skip(1);
      continue;
    }
    Frame frame;
    frame.kind = static_cast<FrameKind>(kind);
    frame.answer = (kindByte & kFrameAnswerBit) != 0;
    const uint8_t* h = f + kHeaderAt;
    frame.header = {h[0], h[1], h[2], h[3], GetLe16(h + 4)};
    frame.body.assign(body.begin(), body.end());
    pos_ += kFrameOverhead + length;
    Compact();
    return frame;
  }
  Compact();
  return std::nullopt;
}

}  // namespace kiv
