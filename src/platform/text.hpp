// Text helpers over UTF-16 strings: conversions, case, splitting and number reading.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kivmod/kivmod.h"

namespace kiv {

std::u16string Utf8ToU16(std::string_view text);
// The same into out, reusing its storage.
void AssignUtf8(std::string_view text, std::u16string& out);
// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);
std::string U16ToUtf8(std::u16string_view text);

// The process locale's character set ("ANSI code page"); unmapped characters become '?'.
std::string U16ToAnsi(std::u16string_view text);
std::u16string AnsiToU16(std::string_view text);

// PC file names: in a UTF-8 locale, and in the C/POSIX locale, they are UTF-8; in another
// locale they are in its character set; on Windows, whose names are UTF-16, they are UTF-8.
// Nothing is replaced: a name that cannot be converted gives false (and out is left as it was).
bool LocalNameToU16(std::string_view bytes, std::u16string& out);
bool U16ToLocalName(std::u16string_view text, std::string& out);

// Texts across the C interface: KivChar is wchar_t on Windows and char16_t elsewhere, both
// units of UTF-16, so the same text is seen through either pointer type.
inline const char16_t* AsU16(const KivChar* text) { return reinterpret_cast<const char16_t*>(text); }
inline const KivChar* AsKiv(const char16_t* text) { return reinterpret_cast<const KivChar*>(text); }
inline KivChar* AsKiv(char16_t* text) { return reinterpret_cast<KivChar*>(text); }

// A host text: null is empty.
std::u16string FromHost(const KivChar* text);
std::u16string_view HostView(const KivChar* text);

std::u16string ToUpper(std::u16string_view text);
std::u16string ToLower(std::u16string_view text);
// Case folding that does not depend on the process locale: ASCII, Latin-1, Latin
// Extended-A, Greek, Cyrillic and fullwidth Latin letters.
char16_t FoldCaseChar(char16_t c);
std::u16string FoldCase(std::u16string_view text);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);

// Leading decimal digits (after blanks and an optional sign) as an int; none gives 0.
int ParseLeadingInt(std::u16string_view text);

// Splits at every character of separators, dropping empty pieces.
std::vector<std::u16string> SplitAny(std::u16string_view text, std::u16string_view separators);

// Replaces every `from` character with `to`.
std::u16string ReplaceChar(std::u16string_view text, char16_t from, char16_t to);

}  // namespace kiv
