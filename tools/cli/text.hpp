// Text helpers of the kivmod tool: UTF-8 and the library's UTF-16, JSON strings, phone
// paths as typed on the command line, and sizes, rates and times for people.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "kivmod/kivmod.h"

namespace cli {

// The library's UTF-16 text (KivChar: char16_t, wchar_t on Windows).
using KivText = std::basic_string<KivChar>;

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf8(const KivChar* text);
KivText Utf16(const std::string& text);

// Text from the phone made safe for a terminal, as "ls -b" does: control characters become
// C escapes ("\n", "\t", ...) or three octal digits ("\033"). Phone names hold no "\"
// (it separates the tree's components), so a backslash stays as it is.
std::string Escaped(const std::string& text);
// JSON values keep their members in the order they are added.
using JsonValue = nlohmann::ordered_json;
// The JSON text of a value; bytes that are not UTF-8 become U+FFFD, so the text is always valid.
std::string Dump(const JsonValue& value);
// A PC file name (bytes as the file system has them) as the library's UTF-16: UTF-8 in a
// UTF-8 or the C/POSIX locale, else the locale's character set. False when the bytes are not
// valid text there; nothing is replaced.
bool PcNameToUtf16(const std::string& bytes, KivText& out);
// A PC path from the text the tool holds it in (UTF-8 on Windows, the file system's bytes
// elsewhere); path::string() gives that text back.
inline std::filesystem::path PcPath(const std::string& text) { return std::u8string(text.begin(), text.end()); }
// Bytes that are not printable ASCII or valid UTF-8 shown as \xFF, for messages.
std::string Printable(const std::string& bytes);

// A JSON string literal of UTF-8 text.
std::string Json(const std::string& text);

// Columns that UTF-8 text takes on a terminal (wcwidth of each character).
std::size_t DisplayWidth(const std::string& text);
// The text cut to at most columns display columns, never inside a character; "..." marks a cut.
std::string FitWidth(const std::string& text, std::size_t columns);

// A phone path as the library spells it: "/" and "\" both separate components, empty
// components are dropped, "\" joins the rest. The top level is the empty path.
std::string PhonePath(const std::string& typed);
std::vector<std::string> Components(const std::string& phonePath);
// The part before the last "\" ("" for a top-level name) and the last component.
std::string ParentOf(const std::string& phonePath);
std::string LastComponent(const std::string& phonePath);
std::string Join(const std::string& folder, const std::string& name);

// ASCII letters compared without case, everything else exactly.
bool SameNoCase(const std::string& a, const std::string& b);
// The extension without its dot ("" when the name has none).
std::string Extension(const std::string& name);

// 1536 -> "1.5K", 200000 -> "195.3K", 999 -> "999" (powers of 1024).
std::string HumanSize(int64_t bytes);
// Seconds as "m:ss" or "h:mm:ss".
std::string Duration(double seconds);
// Seconds since 1970 as local "YYYY-MM-DD HH:MM" (and with seconds and "T" for JSON).
std::string LocalTime(uint32_t seconds);
// ISO 8601 local time with its UTC offset: "2024-05-01T12:34:56+02:00".
std::string IsoTime(uint32_t seconds);
// A mail header's date: "Wed, 01 May 2024 12:34:56 +0200".
std::string MailTime(std::time_t t);
// An offset from UTC in seconds as "+HH" between "MM".
std::string OffsetText(long seconds, const char* between);

}  // namespace cli
