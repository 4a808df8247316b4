// The body codec's letters as bytes, and Unpack's bounds against the body.
#include <gtest/gtest.h>

#include <vector>

#include "platform/text.hpp"
#include "protocol/codec.hpp"

namespace kiv {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(Codec, PackWritesEachLetterAsBytes) {
  struct Case {
    const char* format;
    std::initializer_list<PackArg> args;
    Bytes bytes;
  };
  const std::u16string text = u"M\\a";
  const Case cases[] = {
      {"psddd", {u"M\\a", u"b.c", 5, 0x1234, 0},
       {4, 'M', 0, '/', 0, 'a', 0, 0, 0, 4, 'b', 0, '.', 0, 'c', 0, 0, 0, 5, 0, 0, 0, 0x34, 0x12, 0, 0, 0, 0, 0, 0}},
      // Lower case counts units with the NUL, upper case bytes; p P t T write "/" for "\".
      {"P", {text}, {8, 'M', 0, '/', 0, 'a', 0, 0, 0}},
      {"S", {text}, {8, 'M', 0, '\\', 0, 'a', 0, 0, 0}},
      {"t", {text}, {4, 0, 'M', 0, '/', 0, 'a', 0, 0, 0}},
      {"T", {text}, {8, 0, 'M', 0, '/', 0, 'a', 0, 0, 0}},
      {"x", {text}, {4, 0, 'M', 0, '\\', 0, 'a', 0, 0, 0}},
      {"X", {text}, {8, 0, 'M', 0, '\\', 0, 'a', 0, 0, 0}},
      {"pPsS", {u"", u"", u"", u""}, {1, 0, 0, 2, 0, 0, 1, 0, 0, 2, 0, 0}},
      {"tTxX", {u"", u"", u"", u""}, {1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}},
      {"pqd", {u"a", 7}, {2, 'a', 0, 0, 0, 7, 0, 0, 0}},  // an unknown letter consumes nothing
      {"bwd", {0x1FF, 0x12345, -2}, {0xFF, 0x45, 0x23, 0xFE, 0xFF, 0xFF, 0xFF}},  // low bytes only
  };
  for (const auto& c : cases) {
    Bytes body;
    EXPECT_EQ(Pack(body, 0, c.format, c.args), static_cast<int>(c.bytes.size())) << c.format;
    EXPECT_EQ(body, c.bytes) << c.format;
  }
  // Extra room is reserved behind the fields; an overlong short text wraps its length byte.
  Bytes body;
  EXPECT_EQ(Pack(body, 5, "b", {1}), 1);
  EXPECT_EQ(body.size(), 6u);
  EXPECT_EQ(Pack(body, 0, "s", {std::u16string(300, u'a')}), 603);
  EXPECT_EQ(body[0], static_cast<uint8_t>(301));
}

TEST(Codec, CurrencySignsAreMappedOnlyWhenTheSwitchIsOn) {
  for (int mode : {1, 0}) {
    SetUnicodeMode(mode);
    Bytes body;
    Pack(body, 0, "s", {u"\uFFE1\uFFE5"});
    EXPECT_EQ(body, mode ? (Bytes{3, 0xA3, 0, 0xA5, 0, 0, 0}) : (Bytes{3, 0xE1, 0xFF, 0xE5, 0xFF, 0, 0}));
  }
}

TEST(Codec, UnpackReadsEveryLetterAndNeverPastTheBody) {
  uint32_t d = 0;
  uint16_t w = 0;
  uint8_t b = 0, raw[4] = {};
  std::string u, s;
  EXPECT_EQ(Unpack(Bytes{0x05, 0, 0, 0, 0x34, 0x12, 0x41, 0, 0x42, 0, 0, 0}, "dwu", {&d, &w, &u}), 12);
  EXPECT_EQ(std::tie(d, w, u), std::make_tuple(5u, uint16_t{0x1234}, std::string("AB")));
  EXPECT_EQ(Unpack(Bytes{'h', 'i', 0, 9, 8, 7}, "sm", {&s, RawBytes{raw, 3}}), 6);
  EXPECT_EQ(s, "hi");
  EXPECT_EQ(raw[2], 7);
  EXPECT_EQ(Unpack(Bytes{1}, "m", {RawBytes{nullptr, 0}}), 0);
  // Texts come out in the ANSI code page (ASCII in the C locale; Windows-1252 under Wine).
  EXPECT_EQ(Unpack(Bytes{0x41, 0, 0xE9, 0, 0x2D, 0x4E, 0, 0}, "u", {&u}), 8);
  EXPECT_EQ(u, kiv::U16ToAnsi(u"Aé中"));
  EXPECT_EQ(u.back(), '?');

  Bytes longText((kMaxUnpackTextUnits + 2) * 2, 'a');  // one unit too many, then the terminator
  longText.back() = longText[longText.size() - 2] = 0;
  EXPECT_EQ(Unpack(longText, "u", {&u}), -1);
  EXPECT_EQ(Unpack(Bytes{1, 2, 3}, "d", {&d}), -1);
  EXPECT_EQ(Unpack(Bytes{1}, "w", {&w}), -1);
  EXPECT_EQ(Unpack(Bytes{}, "b", {&b}), -1);
  EXPECT_EQ(Unpack(Bytes{'a', 'b'}, "s", {&s}), -1);
  EXPECT_EQ(Unpack(Bytes{'a', 0, 'b'}, "u", {&u}), -1);
  EXPECT_EQ(Unpack(Bytes{1, 2}, "m", {RawBytes{raw, 3}}), -1);
  // A pointer of the wrong kind is refused instead of being written through.
  EXPECT_EQ(Unpack(Bytes{1, 2, 3, 4}, "d", {&w}), -1);
  EXPECT_EQ(Unpack(Bytes{1, 2, 3, 4}, "dd", {&d}), -1);
}

}  // namespace
}  // namespace kiv
