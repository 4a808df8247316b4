#include "text.hpp"

#include <cctype>
#include <cstdio>
#include <ctime>

#include "system.hpp"

namespace cli {

std::string Utf8(const KivChar* text) {
  std::string out;
  for (; text && *text; ++text) {
    uint32_t c = *text;
    if (c >= 0xD800 && c < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[1] - 0xDC00);
      ++text;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a surrogate without its partner
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

KivText Utf16(const std::string& text) {
  KivText out;
  for (std::size_t i = 0; i < text.size();) {
    auto b = static_cast<unsigned char>(text[i]);
    uint32_t c = b;
    std::size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (n > 1) {
      c = b & (0x3F >> (n - 1));
      for (std::size_t k = 1; k < n && i + k < text.size(); ++k) c = (c << 6) | (text[i + k] & 0x3F);
    }
    i += n;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<KivChar>(0xD800 + (c >> 10));
      out += static_cast<KivChar>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<KivChar>(c);
    }
  }
  return out;
}

namespace {

// Decodes one UTF-8 character at text[i]; a byte that does not start a valid one counts as
// one character of its own (U+FFFD).
char32_t NextChar(const std::string& text, std::size_t& i) {
  const auto b = static_cast<unsigned char>(text[i]);
  const std::size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (n == 0 || i + n > text.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t c = n == 1 ? b : b & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    c = (c << 6) | (next & 0x3F);
  }
  i += n;
  return c;
}

}  // namespace

std::string Printable(const std::string& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t start = i;
    const char32_t c = NextChar(bytes, i);
    if (c == 0xFFFD && !(i - start == 3 && bytes.compare(start, 3, "\xEF\xBF\xBD") == 0)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(bytes[start]));
      out += hex;
    } else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
      out += hex;
    } else {
      out.append(bytes, start, i - start);
    }
  }
  return out;
}

std::string Dump(const JsonValue& value) { return value.dump(-1, ' ', false, JsonValue::error_handler_t::replace); }

std::string Json(const std::string& text) { return Dump(JsonValue(text)); }

std::size_t DisplayWidth(const std::string& text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) width += static_cast<std::size_t>(CharWidth(NextChar(text, i)));
  return width;
}

std::string FitWidth(const std::string& text, std::size_t columns) {
  if (DisplayWidth(text) <= columns) return text;
  const std::size_t room = columns > 3 ? columns - 3 : 0;
  std::size_t width = 0, end = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t w = static_cast<std::size_t>(CharWidth(NextChar(text, i)));
    if (width + w > room) break;
    width += w;
    end = i;
  }
  return text.substr(0, end) + std::string(columns > 3 ? 3 : columns, '.');
}

std::vector<std::string> Components(const std::string& phonePath) {
  std::vector<std::string> out;
  std::string part;
  for (char c : phonePath) {
    if (c == '\\' || c == '/') {
      if (!part.empty()) out.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) out.push_back(part);
  return out;
}

std::string PhonePath(const std::string& typed) {
  std::string out;
  for (const std::string& part : Components(typed)) out = Join(out, part);
  return out;
}

std::string ParentOf(const std::string& phonePath) {
  auto cut = phonePath.rfind('\\');
  return cut == std::string::npos ? std::string() : phonePath.substr(0, cut);
}

std::string LastComponent(const std::string& phonePath) {
  auto cut = phonePath.rfind('\\');
  return cut == std::string::npos ? phonePath : phonePath.substr(cut + 1);
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "\\" + name;
}

bool SameNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string Extension(const std::string& name) {
  auto dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot + 1);
}

std::string HumanSize(int64_t bytes) {
  static const char* const kUnits[] = {"K", "M", "G", "T"};
  if (bytes < 1024) return std::to_string(bytes);
  double value = static_cast<double>(bytes);
  int unit = -1;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f%s", value, kUnits[unit]);
  return buf;
}

std::string Duration(double seconds) {
  if (seconds < 0 || seconds > 360000) return "--:--";
  long s = static_cast<long>(seconds + 0.5);
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

namespace {

// Local time as the pattern spells it; withOffset adds the UTC offset as "+02:00".
std::string Format(std::time_t t, const char* pattern, bool withOffset) {
  std::tm tm{};
  long offset = 0;
  if (!LocalTm(t, tm, offset)) return {};
  char buf[64];
  std::size_t n = std::strftime(buf, sizeof buf, pattern, &tm);
  std::string out(buf, n);
  if (withOffset) out += OffsetText(offset, ":");
  return out;
}

}  // namespace

std::string OffsetText(long seconds, const char* between) {
  const long minutes = (seconds < 0 ? -seconds : seconds) / 60;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%c%02ld%s%02ld", seconds < 0 ? '-' : '+', minutes / 60, between, minutes % 60);
  return buf;
}

std::string LocalTime(uint32_t seconds) { return Format(static_cast<std::time_t>(seconds), "%Y-%m-%d %H:%M", false); }
std::string IsoTime(uint32_t seconds) { return Format(static_cast<std::time_t>(seconds), "%Y-%m-%dT%H:%M:%S", true); }
std::string MailTime(std::time_t t) {
  std::tm tm{};
  long offset = 0;
  if (!LocalTm(t, tm, offset)) return {};
  char buf[64];
  std::size_t n = std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S ", &tm);
  return std::string(buf, n) + OffsetText(offset, "");
}

std::string Escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    switch (c) {
      case '\a': out += "\\a"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\v': out += "\\v"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char octal[5];
          std::snprintf(octal, sizeof octal, "\\%03o", c);
          out += octal;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

}  // namespace cli
