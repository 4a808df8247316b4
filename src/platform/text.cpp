#include "platform/text.hpp"

#include <cwctype>

namespace kiv {

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

namespace {

// Decodes one code point at text[i]; lone surrogates decode as U+FFFD.
char32_t NextCodePoint(std::u16string_view text, std::size_t& i) {
  char32_t c = text[i++];
  if (c >= 0xD800 && c < 0xDC00 && i < text.size() && text[i] >= 0xDC00 && text[i] < 0xE000) {
    return 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
  }
  if (c >= 0xD800 && c < 0xE000) return 0xFFFD;
  return c;
}

}  // namespace

void AssignUtf8(std::string_view text, std::u16string& out) {
  // Never more UTF-16 units than bytes; written by index, then cut to what was written.
  out.resize(text.size());
  char16_t* dst = out.data();
  std::size_t n = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      dst[n++] = lead;
      ++i;
      continue;
    }
    std::size_t trail = (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : (lead >> 3) == 30 ? 3 : 4;
    char32_t cp = 0xFFFD;
    std::size_t used = 1;
    if (trail < 4 && i + trail < text.size()) {
      char32_t v = lead & (0x3F >> trail);
      bool ok = true;
      for (std::size_t k = 1; ok && k <= trail; ++k) {
        auto c = static_cast<unsigned char>(text[i + k]);
        ok = (c & 0xC0) == 0x80;
        v = (v << 6) | (c & 0x3F);
      }
      if (ok && v <= 0x10FFFF && !(v >= 0xD800 && v < 0xE000)) {
        cp = v;
        used = trail + 1;
      }
    }
    i += used;
    // A four-byte sequence gives two units: never more than the bytes it took.
    if (cp >= 0x10000) {
      cp -= 0x10000;
      dst[n++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      dst[n++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      dst[n++] = static_cast<char16_t>(cp);
    }
  }
  out.resize(n);
}

std::u16string Utf8ToU16(std::string_view text) {
  std::u16string out;
  AssignUtf8(text, out);
  return out;
}

std::string U16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) AppendUtf8(out, NextCodePoint(text, i));
  return out;
}


std::u16string_view HostView(const KivChar* text) {
  return text ? std::u16string_view(AsU16(text)) : std::u16string_view();
}

std::u16string FromHost(const KivChar* text) { return std::u16string(HostView(text)); }

std::u16string ToUpper(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out)
    if (c < 0xD800 || c >= 0xE000) c = static_cast<char16_t>(std::towupper(c));
  return out;
}

std::u16string ToLower(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out)
    if (c < 0xD800 || c >= 0xE000) c = static_cast<char16_t>(std::towlower(c));
  return out;
}

char16_t FoldCaseChar(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
      (c >= 0x410 && c <= 0x42F))
    return static_cast<char16_t>(c + 32);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  if (((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177) || (c >= 0x460 && c <= 0x4BF)) && c % 2 == 0)
    return static_cast<char16_t>(c + 1);
  if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && c % 2 == 1) return static_cast<char16_t>(c + 1);
  if (c == 0x178) return 0xFF;
  if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 32);
  return c;
}

std::u16string FoldCase(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = FoldCaseChar(c);
  return out;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && FoldCaseChar(a[i]) != FoldCaseChar(b[i])) return false;
  return true;
}

int ParseLeadingInt(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > 0x7FFFFFFFLL) value = 0x80000000LL;  // saturate like the C runtime
  }
  if (negative) value = -value;
  if (value > 0x7FFFFFFFLL) value = 0x7FFFFFFFLL;
  return static_cast<int>(value);
}

std::vector<std::u16string> SplitAny(std::u16string_view text, std::u16string_view separators) {
  std::vector<std::u16string> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || separators.find(text[i]) != std::u16string_view::npos) {
      if (i > start) parts.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

std::u16string ReplaceChar(std::u16string_view text, char16_t from, char16_t to) {
  std::u16string out(text);
  for (auto& c : out)
    if (c == from) c = to;
  return out;
}

}  // namespace kiv
