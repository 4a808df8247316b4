// Request and answer body codec: format strings of one-letter field codes.
//
// Numbers, length fields and UTF-16 units are little-endian in the main protocol and
// big-endian in the e-mail protocol: the byte order is a parameter of Pack and Unpack.
// Pack letters: b w d (numbers, 1/2/4 bytes); p P s S (1-byte length) and
// t T x X (2-byte length) texts, where lower case counts characters + 1 and upper case
// counts bytes including the NUL; p P t T turn "\\" into "/"; u is a text without a length
// field, ended by its 0 unit. Unknown letters write nothing and consume no argument.
// Unpack letters: b w d (numbers), s (8-bit text up to its 0 byte), u (UTF-16 text up to
// its 0 unit, converted to the locale's character set), m (raw bytes). Unknown letters read
// nothing and consume no argument.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kiv {

enum class ByteOrder { kLittle, kBig };

// The character mapping switch: when on, Pack writes U+FFE1 as U+00A3 and U+FFE5 as U+00A5.
void SetUnicodeMode(int32_t value);
int32_t UnicodeMode();

// One Pack argument: a number or a text. A letter takes the kind it needs (a number letter
// given a text packs 0, a text letter given a number packs an empty text).
class PackArg {
 public:
  PackArg(int32_t v) : number_(static_cast<uint32_t>(v)) {}
  PackArg(uint32_t v) : number_(v) {}
  PackArg(int64_t v) : number_(static_cast<uint32_t>(v)) {}
  PackArg(uint64_t v) : number_(static_cast<uint32_t>(v)) {}
  PackArg(std::u16string_view text) : text_(text), isText_(true) {}
  PackArg(const std::u16string& text) : text_(text), isText_(true) {}
  PackArg(const char16_t* text) : text_(text ? std::u16string_view(text) : std::u16string_view()), isText_(true) {}
  uint32_t number() const { return isText_ ? 0 : number_; }
  std::u16string_view text() const { return isText_ ? text_ : std::u16string_view(); }

 private:
  uint32_t number_ = 0;
  std::u16string_view text_;
  bool isText_ = false;
};

// Packs the fields into body (replacing its content), sized packed size + extraRoom, and
// returns the packed size (without the extra room).
int Pack(std::vector<uint8_t>& body, std::size_t extraRoom, std::string_view format,
         std::initializer_list<PackArg> args, ByteOrder order = ByteOrder::kLittle);

// Raw destination of the 'm' letter.
struct RawBytes {
  uint8_t* dest;
  std::size_t count;
};
using UnpackArg = std::variant<uint8_t*, uint16_t*, uint32_t*, std::string*, RawBytes>;

// Longest UTF-16 text the 'u' letter gathers, in units (terminator excluded).
inline constexpr std::size_t kMaxUnpackTextUnits = 67584;

// Reads the fields from source and returns the bytes read, or -1 when a field would run
// past the end of source, a 'u' text is longer than the limit, or an argument has the wrong
// kind for its letter. Nothing is written past what was read successfully.
int Unpack(std::span<const uint8_t> source, std::string_view format, std::initializer_list<UnpackArg> args,
           ByteOrder order = ByteOrder::kLittle);

}  // namespace kiv
