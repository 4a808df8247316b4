#include "platform/trace.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/text.hpp"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kiv {
namespace {

struct Sink {
  std::FILE* file = nullptr;
  bool owned = false;
  bool debugger = false;
  std::mutex mutex;
  Sink() {
    const char* target = std::getenv("KIVMOD_TRACE");
#ifdef _WIN32
    debugger = (!target || !*target) && IsDebuggerPresent();
#endif
    if (!target || !*target) return;
    if (std::strcmp(target, "1") == 0) {
      file = stderr;
    } else {
      file = std::fopen(target, "a");
      owned = file != nullptr;
    }
  }
  ~Sink() {
    if (owned) std::fclose(file);
  }
};

Sink& TheSink() {
  static Sink sink;
  return sink;
}

}  // namespace

bool TraceEnabled() { return TheSink().file != nullptr || TheSink().debugger; }

void Trace(std::string_view text) {
  Sink& sink = TheSink();
#ifdef _WIN32
  if (sink.debugger) {
    std::u16string wide = Utf8ToU16(text);
    OutputDebugStringW(reinterpret_cast<const wchar_t*>(wide.c_str()));
    return;
  }
#endif
  if (!sink.file) return;
  std::lock_guard lock(sink.mutex);
  std::fwrite(text.data(), 1, text.size(), sink.file);
  std::fflush(sink.file);
}

void Trace(std::u16string_view text) {
  if (TraceEnabled()) Trace(std::string_view(U16ToUtf8(text)));
}

void TraceF(const char* format, ...) {
  if (!TraceEnabled()) return;
  char buffer[1024];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  Trace(std::string_view(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1)));
}

}  // namespace kiv
