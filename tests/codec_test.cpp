// Packing request fields into bodies and reading answer fields back, bounds-checked.
#include <gtest/gtest.h>

#include <vector>

#include "protocol/codec.hpp"

namespace kiv {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Le16(std::u16string_view text) {
  Bytes out;
  for (char16_t c : text) out.insert(out.end(), {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>(c >> 8)});
  return out;
}

class CodecTest : public ::testing::Test {
 protected:
  void SetUp() override { SetUnicodeMode(1); }
  void TearDown() override { SetUnicodeMode(0); }
};

// Every text letter: its length prefix (units or bytes, one byte or two), the separator it
// writes (path letters turn "\" into "/") and the terminator, also for empty texts.
TEST_F(CodecTest, TextLetters) {
  struct Case {
    const char* format;
    std::u16string_view text;
    Bytes prefix;
    std::u16string_view written;  // followed by a terminating zero unit
  };
  const Case cases[] = {
      {"p", u"M\\a", {4}, u"M/a"},    {"P", u"M\\a", {8}, u"M/a"},    {"s", u"M\\a", {4}, u"M\\a"},
      {"S", u"M\\a", {8}, u"M\\a"},   {"t", u"M\\a", {4, 0}, u"M/a"}, {"T", u"M\\a", {8, 0}, u"M/a"},
      {"x", u"M\\a", {4, 0}, u"M\\a"}, {"X", u"M\\a", {8, 0}, u"M\\a"}, {"p", u"", {1}, u""},
      {"s", u"", {1}, u""},           {"P", u"", {2}, u""},           {"S", u"", {2}, u""},
      {"t", u"", {1, 0}, u""},        {"x", u"", {1, 0}, u""},        {"T", u"", {2, 0}, u""},
      {"X", u"", {2, 0}, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.text.size()));
    Bytes expected = c.prefix, units = Le16(c.written), body;
    expected.insert(expected.end(), units.begin(), units.end());
    expected.insert(expected.end(), {0, 0});
    EXPECT_EQ(Pack(body, 0, c.format, {c.text}), static_cast<int>(expected.size()));
    EXPECT_EQ(body, expected);
  }
}

TEST_F(CodecTest, PackWireBytes) {
  Bytes body;
  EXPECT_EQ(Pack(body, 0, "psddd", {u"M\\a", u"b.c", 5, 0x1234, 0}), 30);
  EXPECT_EQ(body, (Bytes{0x04, 0x4D, 0, 0x2F, 0, 0x61, 0, 0, 0, 0x04, 0x62, 0, 0x2E, 0, 0x63, 0, 0, 0,
                         0x05, 0,    0, 0,    0x34, 0x12, 0, 0, 0, 0, 0, 0}));
  // An unknown letter consumes no argument.
  EXPECT_EQ(Pack(body, 0, "pqd", {u"a", 7}), 9);
  EXPECT_EQ(body, (Bytes{2, 'a', 0, 0, 0, 7, 0, 0, 0}));
  // Numbers keep their low bytes; extra room is reserved behind the packed fields.
  EXPECT_EQ(Pack(body, 5, "bwd", {0x1FF, 0x12345, -2}), 7);
  EXPECT_EQ(body, (Bytes{0xFF, 0x45, 0x23, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0}));
  // A short text too long for its length byte wraps the byte.
  EXPECT_EQ(Pack(body, 0, "s", {std::u16string(300, u'a')}), 603);
  EXPECT_EQ(body[0], static_cast<uint8_t>(301));
}

TEST_F(CodecTest, CurrencySignsMappedOnlyWhenSwitchIsOn) {
  for (int mode : {1, 0}) {
    SetUnicodeMode(mode);
    Bytes body;
    Pack(body, 0, "s", {u"\uFFE1\uFFE5"});
    EXPECT_EQ(Bytes(body.begin() + 1, body.begin() + 5), Le16(mode ? u"\u00A3\u00A5" : u"\uFFE1\uFFE5")) << mode;
  }
}

TEST_F(CodecTest, UnpackFields) {
  uint32_t d = 0;
  uint16_t w = 0;
  std::string u, s;
  EXPECT_EQ(Unpack(Bytes{0x05, 0, 0, 0, 0x34, 0x12, 0x41, 0, 0x42, 0, 0, 0}, "dwu", {&d, &w, &u}), 12);
  EXPECT_EQ(std::tuple(d, w, u), std::tuple(5u, uint16_t{0x1234}, std::string("AB")));
  uint8_t raw[3] = {};
  EXPECT_EQ(Unpack(Bytes{'h', 'i', 0, 9, 8, 7}, "sm", {&s, RawBytes{raw, 3}}), 6);
  EXPECT_EQ(s, "hi");
  EXPECT_EQ(raw[2], 7);
  EXPECT_EQ(Unpack(Bytes{1}, "m", {RawBytes{nullptr, 0}}), 0);
  // Characters the C locale's ASCII cannot show become question marks.
  EXPECT_EQ(Unpack(Bytes{0x41, 0, 0xE9, 0, 0x2D, 0x4E, 0, 0}, "u", {&u}), 8);
  EXPECT_EQ(u, "A??");
}

TEST_F(CodecTest, UnpackNeverReadsPastTheBody) {
  uint32_t d = 0;
  uint16_t w = 0;
  uint8_t b = 0, raw[4];
  std::string text;
  Bytes tooLong((kMaxUnpackTextUnits + 1) * 2, 'a');
  tooLong.insert(tooLong.end(), {0, 0});
  EXPECT_EQ(Unpack(Bytes{1, 2, 3}, "d", {&d}), -1);
  EXPECT_EQ(Unpack(Bytes{1}, "w", {&w}), -1);
  EXPECT_EQ(Unpack(Bytes{}, "b", {&b}), -1);
  EXPECT_EQ(Unpack(Bytes{'a', 'b'}, "s", {&text}), -1);
  EXPECT_EQ(Unpack(Bytes{'a', 0, 'b'}, "u", {&text}), -1);
  EXPECT_EQ(Unpack(Bytes{1, 2}, "m", {RawBytes{raw, 3}}), -1);
  EXPECT_EQ(Unpack(tooLong, "u", {&text}), -1);
  // A pointer of the wrong kind is refused instead of being written through.
  EXPECT_EQ(Unpack(Bytes{1, 2, 3, 4}, "d", {&w}), -1);
  EXPECT_EQ(Unpack(Bytes{1, 2, 3, 4}, "dd", {&d}), -1);
}

}  // namespace
}  // namespace kiv
