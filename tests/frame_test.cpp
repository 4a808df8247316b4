// Frame bytes, checks and the decoder's recovery from damaged streams.
#include "link/frame.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using kiv::Frame;
using kiv::FrameDecoder;
using kiv::FrameHeader;
using kiv::FrameKind;
using Bytes = std::vector<uint8_t>;

Bytes Hex(std::string_view text) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
    i += 2;
  }
  return out;
}

std::span<const uint8_t> Text(std::string_view s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

Bytes Encode(FrameKind kind, bool answer, FrameHeader header, std::span<const uint8_t> body) {
  Bytes out;
  EXPECT_TRUE(kiv::EncodeFrame(kind, answer, header, body, out));
  return out;
}

Bytes Packet(uint8_t seq, std::size_t bodySize, uint8_t fill = 0x33) {
  Bytes body(bodySize, fill);
  return Encode(FrameKind::kPacket, true, {0x20, 0x11, 1, seq, 0}, body);
}

std::vector<Frame> DecodeAll(FrameDecoder& decoder, std::span<const uint8_t> bytes) {
  decoder.Feed(bytes);
  std::vector<Frame> frames;
  while (auto f = decoder.Next()) frames.push_back(std::move(*f));
  return frames;
}

std::vector<uint8_t> Seqs(const std::vector<Frame>& frames) {
  std::vector<uint8_t> seqs;
  for (const auto& f : frames) seqs.push_back(f.header.seq);
  return seqs;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(FrameCrc, CheckValues) {
  EXPECT_EQ(kiv::Crc32c(Text("123456789")), 0xE3069283u);
  EXPECT_EQ(kiv::Crc32cTable(Text("123456789")), 0xE3069283u);
  EXPECT_EQ(kiv::Crc16Ccitt(Text("123456789")), 0x29B1);
  EXPECT_EQ(kiv::Crc32c({}), 0u);
  // Continuing over a split gives the whole-buffer value.
  EXPECT_EQ(kiv::Crc32c(Text("56789"), kiv::Crc32c(Text("1234"))), 0xE3069283u);
  EXPECT_EQ(kiv::Crc16Ccitt(Text("56789"), kiv::Crc16Ccitt(Text("1234"))), 0x29B1);
}

TEST(FrameCrc, FastPathMatchesTablesAtEveryLengthAndAlignment) {
  Bytes data(300);
  std::mt19937 rng(7);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t length = 0; offset + length <= data.size(); length += 7) {
      std::span<const uint8_t> piece(data.data() + offset, length);
      ASSERT_EQ(kiv::Crc32c(piece), kiv::Crc32cTable(piece)) << "offset " << offset << " length " << length;
    }
  }
}

// The bytes shown in docs/wire.md.
TEST(FrameEncode, WorkedExampleBytes) {
  EXPECT_EQ(Encode(FrameKind::kConnect, false, {0, 0, 0, 1, 0}, Text("qorvend")),
            Hex("A5 5A 02 00 00 00 01 00 00 07 00 D3 ED 71 6F 72 76 65 6E 64 B9 61 60 C6"));
  EXPECT_EQ(Encode(FrameKind::kConnect, true, {0, 0, 0, 1, 0}, kiv::ConnectAnswerBody(1)),
            Hex("A5 5A 82 00 00 00 01 00 00 01 00 C7 F8 01 90 60 98 B2"));
  EXPECT_EQ(Encode(FrameKind::kConnect, true, {0, 0, 0, 1, 0}, kiv::ConnectAnswerBody(-2)),
            Hex("A5 5A 82 00 00 00 01 00 00 01 00 C7 F8 FE C1 33 E5 1F"));
  const uint8_t body[] = {1, 2, 3};
  EXPECT_EQ(Encode(FrameKind::kPacket, false, {0x20, 0x11, 1, 0x2A, 0}, body),
            Hex("A5 5A 01 20 11 01 2A 00 00 03 00 CA 59 01 02 03 D3 1A C9 17"));
  const uint8_t result[] = {1};
  EXPECT_EQ(Encode(FrameKind::kPacket, true, {0x20, 0x11, 1, 0x2A, 0}, result),
            Hex("A5 5A 81 20 11 01 2A 00 00 01 00 1A 80 01 23 20 9E 74"));
  EXPECT_EQ(Encode(FrameKind::kPacket, true, {0x00, 0x72, 1, 0x2A, 0}, {}),
            Hex("A5 5A 81 00 72 01 2A 00 00 00 00 DB A3 76 96 DF A3"));
  EXPECT_EQ(kiv::BackupToolAnswerBody(0x01020304), (std::array<uint8_t, 4>{4, 3, 2, 1}));
}

TEST(FrameDecode, RoundTripsEveryKindAndSize) {
  const std::tuple<FrameKind, bool, std::size_t> cases[] = {
      {FrameKind::kPacket, false, 0},     {FrameKind::kPacket, true, 1},      {FrameKind::kPacket, true, 32768},
      {FrameKind::kPacket, false, 65535}, {FrameKind::kConnect, false, 7},    {FrameKind::kConnect, true, 1},
      {FrameKind::kPhoneInfo, true, 168}, {FrameKind::kPhoneInfo, false, 0},  {FrameKind::kBackupTool, true, 4},
      {FrameKind::kDisconnect, false, 0}, {FrameKind::kConnect, false, kiv::kMaxControlBody},
  };
  for (const auto& [kind, answer, size] : cases) {
    Bytes body(size);
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i * 7 + 0xA5);  // marker bytes inside
    FrameDecoder decoder;
    auto frames = DecodeAll(decoder, Encode(kind, answer, {0x20, 0x72, 2, 0x99, 0xBEEF}, body));
    ASSERT_EQ(frames.size(), 1u) << static_cast<int>(kind) << " " << size;
    const auto& h = frames[0].header;
    EXPECT_EQ(std::make_tuple(frames[0].kind, frames[0].answer, h.cls, h.code, h.flag, h.seq, h.reserved),
              std::make_tuple(kind, answer, uint8_t{0x20}, uint8_t{0x72}, uint8_t{2}, uint8_t{0x99}, uint16_t{0xBEEF}));
    EXPECT_EQ(frames[0].body, body);
    EXPECT_EQ(decoder.SkippedBytes() + decoder.Buffered(), 0u);
  }
}

TEST(FrameDecode, ByteByByteFeedGivesTheSameFrames) {
  Bytes stream = Concat({Packet(1, 0), Hex("00 A5 FF"), Packet(2, 300, 0xA5), Packet(3, 5)});
  FrameDecoder decoder;
  std::vector<Frame> frames;
  for (uint8_t b : stream) {
    decoder.Feed({&b, 1});
    while (auto f = decoder.Next()) frames.push_back(std::move(*f));
  }
  EXPECT_EQ(Seqs(frames), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(frames[1].body, Bytes(300, 0xA5));
  EXPECT_EQ(decoder.SkippedBytes(), 3u);
}

TEST(FrameDecode, RecoversFromDamage) {
  Bytes good = Packet(7, 40);
  auto damaged = [&](auto change) {
    Bytes f = Packet(6, 40);
    change(f);
    return f;
  };
  const std::pair<const char*, Bytes> cases[] = {
      {"garbage before", Concat({Hex("00 11 A5 A5 5A 5A 22 A5"), good})},
      {"false marker with a plausible header",
       Concat({Hex("A5 5A 01 20 11 01 06 00 00 28 00 00 00"), good})},
      {"lost byte in the header", Concat({damaged([](Bytes& f) { f.erase(f.begin() + 5); }), good})},
      {"lost byte in the body", Concat({damaged([](Bytes& f) { f.erase(f.begin() + 20); }), good})},
      {"lost marker byte", Concat({damaged([](Bytes& f) { f.erase(f.begin() + 1); }), good})},
      {"flipped body bit", Concat({damaged([](Bytes& f) { f[30] ^= 0x10; }), good})},
      {"flipped frame check", Concat({damaged([](Bytes& f) { f.back() ^= 1; }), good})},
      {"flipped header check", Concat({damaged([](Bytes& f) { f[11] ^= 1; }), good})},
      {"changed length", Concat({damaged([](Bytes& f) { f[9] = 39; }), good})},
      {"unknown kind", Concat({damaged([](Bytes& f) { f[2] = 0x09; }), good})},
      {"truncated frame", Concat({damaged([](Bytes& f) { f.resize(30); }), good})},
  };
  for (const auto& [name, stream] : cases) {
    FrameDecoder decoder;
    auto frames = DecodeAll(decoder, stream);
    ASSERT_EQ(Seqs(frames), std::vector<uint8_t>{7}) << name;
    EXPECT_EQ(frames[0].body, Bytes(40, 0x33)) << name;
    EXPECT_EQ(decoder.Buffered(), 0u) << name;
    EXPECT_GT(decoder.SkippedBytes(), 0u) << name;
  }
}

// A header that claims a long body whose bytes never came holds the later frames only until
// enough bytes have arrived to prove it wrong; then they all come out.
TEST(FrameDecode, TruncatedLongFrameReleasesTheFramesBehindIt) {
  Bytes broken = Packet(1, 2000);
  broken.resize(100);
  FrameDecoder decoder;
  auto early = DecodeAll(decoder, Concat({broken, Packet(2, 10)}));
  EXPECT_TRUE(early.empty());
  auto later = DecodeAll(decoder, Concat({Packet(3, 1000), Packet(4, 1000)}));
  EXPECT_EQ(Seqs(later), (std::vector<uint8_t>{2, 3, 4}));
}

TEST(FrameDecode, RejectsOverLongBodies) {
  // Packets over the decoder's limit, and the link's own messages over theirs, even with
  // valid checks.
  FrameDecoder small(100);
  auto frames = DecodeAll(small, Concat({Packet(1, 101), Packet(2, 100)}));
  EXPECT_EQ(Seqs(frames), std::vector<uint8_t>{2});
  EXPECT_GE(small.RejectedFrames(), 1u);

  Bytes longId(kiv::kMaxControlBody + 1, 'x');
  FrameDecoder decoder;
  frames = DecodeAll(decoder, Concat({Encode(FrameKind::kConnect, false, {0, 0, 0, 5, 0}, longId), Packet(6, 3)}));
  EXPECT_EQ(Seqs(frames), std::vector<uint8_t>{6});
}

}  // namespace
