// Wire framing of the byte-stream links, shared by the host side (the stream channel) and by
// the phone side (the simulated phone program). docs/wire.md describes the bytes.
//
//   marker A5 5A | kind | class code flag seq reserved(LE16) length(LE16) | header check (LE16)
//   | body (length bytes) | frame check (LE32)
//
// The header check is CRC-16/CCITT-FALSE over kind and the 8 header bytes; it lets a decoder
// throw away a false start at once instead of waiting for a body that never comes. The frame
// check is CRC-32C over kind, the 8 header bytes and the body.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "link/packet.hpp"

namespace kiv {

// What a frame carries. The high bit of the kind byte marks an answer (phone to host).
enum class FrameKind : uint8_t {
  kPacket = 0x01,      // a request or answer packet of the protocol
  kConnect = 0x02,     // request: the id text; answer: one signed byte, 1 / -2 / 0
  kPhoneInfo = 0x03,   // request: empty; answer: the 168-byte record (empty: none)
  kBackupTool = 0x04,  // request: empty; answer: a 32-bit little-endian result
  kDisconnect = 0x05,  // either side is going away; never answered
};

inline constexpr uint8_t kFrameAnswerBit = 0x80;
inline constexpr std::array<uint8_t, 2> kFrameMarker = {0xA5, 0x5A};
// Marker, kind, header and header check.
inline constexpr std::size_t kFramePrefixSize = 2 + 1 + CGenPacket::kHeaderSize + 2;
inline constexpr std::size_t kFrameCheckSize = 4;
inline constexpr std::size_t kFrameOverhead = kFramePrefixSize + kFrameCheckSize;
// Largest body of the link's own messages (everything but kPacket).
inline constexpr std::size_t kMaxControlBody = 256;

// The 8 header bytes except the body length, which the body gives.
struct FrameHeader {
  uint8_t cls = 0;
  uint8_t code = 0;
  uint8_t flag = 0;
  uint8_t seq = 0;
  uint16_t reserved = 0;
};

struct Frame {
  FrameKind kind = FrameKind::kPacket;
  bool answer = false;
  FrameHeader header;
  std::vector<uint8_t> body;
};

// CRC-32C (Castagnoli, reflected, init and final xor FFFFFFFF). Pass the previous result as
// crc to continue over more data. Uses the CPU's CRC instruction where there is one.
uint32_t Crc32c(std::span<const uint8_t> data, uint32_t crc = 0);
// The same function computed from tables only.
uint32_t Crc32cTable(std::span<const uint8_t> data, uint32_t crc = 0);
// CRC-16/CCITT-FALSE (poly 1021, init FFFF, no reflection, no final xor).
uint16_t Crc16Ccitt(std::span<const uint8_t> data, uint16_t crc = 0xFFFF);

// Appends one frame to out. False (out unchanged) when the body is longer than 65535 bytes.
bool EncodeFrame(FrameKind kind, bool answer, const FrameHeader& header, std::span<const uint8_t> body,
                 std::vector<uint8_t>& out);
// A packet frame from a CGenPacket; the flag travels as its low 8 bits.
bool EncodePacket(const CGenPacket& packet, bool answer, std::vector<uint8_t>& out);
// Moves a packet frame's fields and body into a CGenPacket.
void FrameToPacket(Frame&& frame, CGenPacket& packet);

// Bodies of the link's own answers, and their readings (0 when the body is too short).
std::array<uint8_t, 1> ConnectAnswerBody(int result);
int ConnectAnswerResult(std::span<const uint8_t> body);
std::array<uint8_t, 4> BackupToolAnswerBody(int32_t result);
int32_t BackupToolAnswerResult(std::span<const uint8_t> body);

// Cuts frames out of a byte stream fed in pieces of any size. Bytes that do not start a valid
// frame are skipped one at a time, so after garbage, a lost byte or a damaged frame the next
// intact frame is found again.
class FrameDecoder {
 public:
  // Packet frames with a longer body are refused as damaged.
  explicit FrameDecoder(std::size_t maxBody = CGenPacket::kMaxBody) : maxBody_(maxBody) {}

  void Feed(std::span<const uint8_t> bytes);
  // The next intact frame, or nothing until more bytes arrive.
  std::optional<Frame> Next();
  void Reset();

  // Bytes not part of any intact frame, and frames refused (bad check, kind or length).
  uint64_t SkippedBytes() const { return skipped_; }
  uint64_t RejectedFrames() const { return rejected_; }
  std::size_t Buffered() const { return buf_.size() - pos_; }

 private:
  void Skip(std::size_t n) {
    pos_ += n;
    skipped_ += n;
  }
  void Compact();

  std::size_t maxBody_;
  std::vector<uint8_t> buf_;
  std::size_t pos_ = 0;
  uint64_t skipped_ = 0;
  uint64_t rejected_ = 0;
};

}  // namespace kiv
