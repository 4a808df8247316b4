#include "protocol/codec.hpp"

#include <cstring>

#include "platform/text.hpp"

namespace kiv {
namespace {

int32_t g_unicodeMode = 0;

bool IsShortText(char c) { return c == 'p' || c == 'P' || c == 's' || c == 'S'; }
bool IsLongText(char c) { return c == 't' || c == 'T' || c == 'x' || c == 'X'; }
bool IsPath(char c) { return c == 'p' || c == 'P' || c == 't' || c == 'T'; }
bool CountsBytes(char c) { return c == 'P' || c == 'S' || c == 'T' || c == 'X'; }

std::size_t FieldSize(char letter, const PackArg& arg) {
  switch (letter) {
    case 'b': return 1;
    case 'w': return 2;
    case 'd': return 4;
    default: break;
  }
  std::size_t units = arg.text().size();
  if (IsShortText(letter)) return 3 + 2 * units;
  if (IsLongText(letter)) return 4 + 2 * units;
  if (letter == 'u') return 2 + 2 * units;
  return 0;
}

bool IsPackLetter(char c) {
  return c == 'b' || c == 'w' || c == 'd' || c == 'u' || IsShortText(c) || IsLongText(c);
}

void Put16(uint8_t* out, uint16_t v, ByteOrder order) {
  bool big = order == ByteOrder::kBig;
  out[big ? 1 : 0] = static_cast<uint8_t>(v);
  out[big ? 0 : 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* out, uint32_t v, ByteOrder order) {
  bool big = order == ByteOrder::kBig;
  Put16(out + (big ? 2 : 0), static_cast<uint16_t>(v), order);
  Put16(out + (big ? 0 : 2), static_cast<uint16_t>(v >> 16), order);
}

uint16_t Get16(const uint8_t* in, ByteOrder order) {
  return order == ByteOrder::kBig ? static_cast<uint16_t>((in[0] << 8) | in[1])
                                  : static_cast<uint16_t>(in[0] | (in[1] << 8));
}

uint32_t Get32(const uint8_t* in, ByteOrder order) {
  bool big = order == ByteOrder::kBig;
  return static_cast<uint32_t>(Get16(in + (big ? 2 : 0), order)) |
         (static_cast<uint32_t>(Get16(in + (big ? 0 : 2), order)) << 16);
}

}  // namespace

void SetUnicodeMode(int32_t value) { g_unicodeMode = value; }
int32_t UnicodeMode() { return g_unicodeMode; }

int Pack(std::vector<uint8_t>& body, std::size_t extraRoom, std::string_view format,
         std::initializer_list<PackArg> args, ByteOrder order) {
  static const PackArg kMissing(int32_t{0});
  std::size_t size = 0;
  auto arg = args.begin();
  for (char letter : format) {
    if (!IsPackLetter(letter)) continue;
    size += FieldSize(letter, arg != args.end() ? *arg : kMissing);
    if (arg != args.end()) ++arg;
  }
  body.assign(size + extraRoom, 0);
  uint8_t* out = body.data();
  arg = args.begin();
  for (char letter : format) {
    if (!IsPackLetter(letter)) continue;
    const PackArg& value = arg != args.end() ? *arg++ : kMissing;
    uint32_t n = value.number();
    switch (letter) {
      case 'b':
        *out++ = static_cast<uint8_t>(n);
        continue;
      case 'w':
        Put16(out, static_cast<uint16_t>(n), order);
        out += 2;
        continue;
      case 'd':
        Put32(out, n, order);
        out += 4;
        continue;
      default: break;
    }
    std::u16string_view text = value.text();
    std::size_t units = text.size();
    // The length field wraps for over-long texts, as the field's width dictates.
    std::size_t length = CountsBytes(letter) ? 2 * units + 2 : units + 1;
    if (letter == 'u') {
      // no length field: the 0 unit ends the text
    } else if (IsShortText(letter)) {
      *out++ = static_cast<uint8_t>(length);
    } else {
      Put16(out, static_cast<uint16_t>(length), order);
      out += 2;
    }
    for (char16_t c : text) {
      if (IsPath(letter) && c == u'\\') c = u'/';
      if (g_unicodeMode) {
        if (c == 0xFFE1) c = 0x00A3;
        else if (c == 0xFFE5) c = 0x00A5;
      }
      Put16(out, c, order);
      out += 2;
    }
    Put16(out, 0, order);
    out += 2;
  }
  return static_cast<int>(size);
}

int Unpack(std::span<const uint8_t> source, std::string_view format, std::initializer_list<UnpackArg> args,
           ByteOrder order) {
  std::size_t pos = 0;
  auto arg = args.begin();
  auto need = [&](std::size_t n) { return pos + n <= source.size(); };
  for (char letter : format) {
    if (letter != 'b' && letter != 'w' && letter != 'd' && letter != 's' && letter != 'u' && letter != 'm') continue;
    if (arg == args.end()) return -1;
    const UnpackArg& out = *arg++;
    switch (letter) {
      case 'b': {
        auto* p = std::get_if<uint8_t*>(&out);
        if (!p || !*p || !need(1)) return -1;
        **p = source[pos++];
        break;
      }
      case 'w': {
        auto* p = std::get_if<uint16_t*>(&out);
        if (!p || !*p || !need(2)) return -1;
        **p = Get16(source.data() + pos, order);
        pos += 2;
        break;
      }
      case 'd': {
        auto* p = std::get_if<uint32_t*>(&out);
        if (!p || !*p || !need(4)) return -1;
        **p = Get32(source.data() + pos, order);
        pos += 4;
        break;
      }
      case 's': {
        auto* p = std::get_if<std::string*>(&out);
        if (!p || !*p) return -1;
        if (pos >= source.size()) return -1;
        const void* zero = std::memchr(source.data() + pos, 0, source.size() - pos);
        if (!zero) return -1;
        std::size_t end = static_cast<const uint8_t*>(zero) - source.data();
        (*p)->assign(reinterpret_cast<const char*>(source.data() + pos), end - pos);
        pos = end + 1;
        break;
      }
      case 'u': {
        auto* p = std::get_if<std::string*>(&out);
        if (!p || !*p) return -1;
        std::u16string text;
        for (;;) {
          if (!need(2)) return -1;
          char16_t c = static_cast<char16_t>(Get16(source.data() + pos, order));
          pos += 2;
          if (c == 0) break;
          if (text.size() == kMaxUnpackTextUnits) return -1;
          text.push_back(c);
        }
        **p = U16ToAnsi(text);
        break;
      }
      case 'm': {
        auto* p = std::get_if<RawBytes>(&out);
        if (!p || !need(p->count) || (p->count && !p->dest)) return -1;
        if (p->count) std::memcpy(p->dest, source.data() + pos, p->count);
        pos += p->count;
        break;
      }
    }
  }
  return static_cast<int>(pos);
}

}  // namespace kiv
