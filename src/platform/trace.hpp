// The library's one trace sink: silent unless KIVMOD_TRACE is set ("1" = standard error,
// any other value = a file path that lines are appended to). On Windows, with KIVMOD_TRACE
// unset, lines go to an attached debugger (OutputDebugStringW) when one listens.
#pragma once

#include <string_view>

namespace kiv {

bool TraceEnabled();
// Writes the text as it stands (callers put their own line feeds).
void Trace(std::string_view text);
void Trace(std::u16string_view text);
// printf-style line, only formatted when tracing is on.
#ifdef __MINGW32__
void TraceF(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
#else
void TraceF(const char* format, ...) __attribute__((format(printf, 1, 2)));
#endif

}  // namespace kiv
