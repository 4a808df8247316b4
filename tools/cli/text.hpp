// Text helpers of the kivmod tool: UTF-8 and the library's UTF-16, JSON strings, phone
// paths as typed on the command line, and sizes, rates and times for people.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kivmod/kivmod.h"

namespace cli {

std::string Utf8(const KivChar* text);
std::u16string Utf16(const std::string& text);

// Text from the phone made safe for a terminal, as "ls -b" does: control characters become
// C escapes ("\n", "\t", ...) or three octal digits ("\033"). Phone names hold no "\"
// (it separates the tree's components), so a backslash stays as it is.
std::string Escaped(const std::string& text);

// A JSON string literal of UTF-8 text.
std::string Json(const std::string& text);

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
std::string IsoTime(uint32_t seconds);

}  // namespace cli
