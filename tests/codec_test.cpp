#include <gtest/gtest.h>

#include <vector>

#include "protocol/codec.hpp"

namespace kiv {
namespace {

using Bytes = std::vector<uint8_t>;

class CodecTest : public ::testing::Test {
 protected:
  void SetUp() override { SetUnicodeMode(1); }
  void TearDown() override { SetUnicodeMode(0); }
};

TEST_F(CodecTest, WorkedExamplePacksThirtyBytes) {
  Bytes body;
  int size = Pack(body, 0, "psddd", {u"M\\a", u"b.c", 5, 0x1234, 0});
  Bytes expected = {0x04, 0x4D, 0, 0x2F, 0, 0x61, 0, 0, 0, 0x04, 0x62, 0, 0x2E, 0, 0x63, 0, 0, 0,
                    0x05, 0,    0, 0,    0x34, 0x12, 0, 0, 0,    0,    0,    0};
  EXPECT_EQ(size, 30);
  EXPECT_EQ(body, expected);
}

TEST_F(CodecTest, LengthPrefixesByLetter) {
  struct Case {
    const char* format;
    Bytes prefix;
    std::size_t size;
  };
  const Case cases[] = {
      {"p", {0x04}, 9}, {"P", {0x08}, 9}, {"s", {0x04}, 9}, {"S", {0x08}, 9},
      {"t", {0x04, 0x00}, 10}, {"T", {0x08, 0x00}, 10}, {"x", {0x04, 0x00}, 10}, {"X", {0x08, 0x00}, 10},
  };
  for (const auto& c : cases) {
    Bytes body;
    EXPECT_EQ(Pack(body, 0, c.format, {u"M\\a"}), static_cast<int>(c.size)) << c.format;
    ASSERT_GE(body.size(), c.prefix.size());
    EXPECT_EQ(Bytes(body.begin(), body.begin() + c.prefix.size()), c.prefix) << c.format;
    char16_t second = static_cast<char16_t>(body[c.prefix.size() + 2] | (body[c.prefix.size() + 3] << 8));
    bool path = std::string_view("pPtT").find(c.format[0]) != std::string_view::npos;
    EXPECT_EQ(second, path ? u'/' : u'\\') << c.format;
  }
}

TEST_F(CodecTest, EmptyTextsPackTheirTerminatorOnly) {
  struct Case {
    const char* format;
    Bytes bytes;
  };
  const Case cases[] = {{"p", {1, 0, 0}}, {"s", {1, 0, 0}}, {"P", {2, 0, 0}}, {"S", {2, 0, 0}},
                        {"t", {1, 0, 0, 0}}, {"x", {1, 0, 0, 0}}, {"T", {2, 0, 0, 0}}, {"X", {2, 0, 0, 0}}};
  for (const auto& c : cases) {
    Bytes body;
    Pack(body, 0, c.format, {u""});
    EXPECT_EQ(body, c.bytes) << c.format;
  }
}

TEST_F(CodecTest, UnknownLetterConsumesNothing) {
  Bytes body;
  EXPECT_EQ(Pack(body, 0, "pqd", {u"a", 7}), 9);
  EXPECT_EQ(body, (Bytes{2, 'a', 0, 0, 0, 7, 0, 0, 0}));
}

TEST_F(CodecTest, NumbersWriteLowBytesAndExtraRoomIsReserved) {
  Bytes body;
  EXPECT_EQ(Pack(body, 5, "bwd", {0x1FF, 0x12345, -2}), 7);
  ASSERT_EQ(body.size(), 12u);
  EXPECT_EQ(Bytes(body.begin(), body.begin() + 7), (Bytes{0xFF, 0x45, 0x23, 0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST_F(CodecTest, CurrencySignsMappedOnlyWhenSwitchIsOn) {
  for (int mode : {1, 0}) {
    SetUnicodeMode(mode);
    Bytes body;
    Pack(body, 0, "s", {u"\uFFE1\uFFE5"});
    char16_t a = static_cast<char16_t>(body[1] | (body[2] << 8));
    char16_t b = static_cast<char16_t>(body[3] | (body[4] << 8));
    EXPECT_EQ(a, mode ? u'\u00A3' : u'\uFFE1');
    EXPECT_EQ(b, mode ? u'\u00A5' : u'\uFFE5');
  }
}

TEST_F(CodecTest, OverlongShortTextWrapsItsLengthByte) {
  std::u16string text(300, u'a');
  Bytes body;
  EXPECT_EQ(Pack(body, 0, "s", {text}), 603);
  EXPECT_EQ(body[0], static_cast<uint8_t>(301));
}

TEST_F(CodecTest, UnpackWorkedExample) {
  Bytes src = {0x05, 0, 0, 0, 0x34, 0x12, 0x41, 0, 0x42, 0, 0, 0};
  uint32_t d = 0;
  uint16_t w = 0;
  std::string u;
  EXPECT_EQ(Unpack(src, "dwu", {&d, &w, &u}), 12);
  EXPECT_EQ(d, 5u);
  EXPECT_EQ(w, 0x1234);
  EXPECT_EQ(u, "AB");
}

TEST_F(CodecTest, UnpackEightBitTextAndRawBytes) {
  Bytes src = {'h', 'i', 0, 9, 8, 7};
  std::string s;
  uint8_t raw[3] = {};
  EXPECT_EQ(Unpack(src, "sm", {&s, RawBytes{raw, 3}}), 6);
  EXPECT_EQ(s, "hi");
  EXPECT_EQ(raw[2], 7);
  EXPECT_EQ(Unpack(src, "m", {RawBytes{nullptr, 0}}), 0);
}

TEST_F(CodecTest, UnpackNeverReadsPastTheBody) {
  uint32_t d = 0;
  uint16_t w = 0;
  uint8_t b = 0;
  std::string text;
  uint8_t raw[4];
  struct Case {
    const char* name;
    Bytes src;
    int result;
  };
  EXPECT_EQ(Unpack(Bytes{1, 2, 3}, "d", {&d}), -1);
  EXPECT_EQ(Unpack(Bytes{1}, "w", {&w}), -1);
  EXPECT_EQ(Unpack(Bytes{}, "b", {&b}), -1);
  EXPECT_EQ(Unpack(Bytes{'a', 'b'}, "s", {&text}), -1);
  EXPECT_EQ(Unpack(Bytes{'a', 0, 'b'}, "u", {&text}), -1);
  EXPECT_EQ(Unpack(Bytes{1, 2}, "m", {RawBytes{raw, 3}}), -1);
  // A pointer of the wrong kind is refused instead of being written through.
  EXPECT_EQ(Unpack(Bytes{1, 2, 3, 4}, "d", {&w}), -1);
  EXPECT_EQ(Unpack(Bytes{1, 2, 3, 4}, "dd", {&d}), -1);
}

TEST_F(CodecTest, UnpackTextLongerThanTheLimitFails) {
  Bytes src((kMaxUnpackTextUnits + 1) * 2, 'a');
  src.push_back(0);
  src.push_back(0);
  std::string text;
  EXPECT_EQ(Unpack(src, "u", {&text}), -1);
}

TEST_F(CodecTest, UnpackUnmappedCharactersBecomeQuestionMarks) {
  // The test runs in the C locale, whose character set is ASCII.
  Bytes src = {0x41, 0, 0xE9, 0, 0x2D, 0x4E, 0, 0};
  std::string text;
  EXPECT_EQ(Unpack(src, "u", {&text}), 8);
  EXPECT_EQ(text, "A??");
}

}  // namespace
}  // namespace kiv
