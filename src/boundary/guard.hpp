// Runs an export's body so that nothing is thrown across the C boundary: any exception
// becomes the export's failure value and a trace line.
#pragma once

#include <exception>
#include <utility>

#include "platform/trace.hpp"

namespace kiv {

template <typename R, typename F>
R Guarded(const char* name, R failure, F&& body) noexcept {
  try {
    return std::forward<F>(body)();
  } catch (const std::exception& e) {
    TraceF("%s: failed: %s\n", name, e.what());
  } catch (...) {
    TraceF("%s: failed\n", name);
  }
  return failure;
}

template <typename F>
void GuardedVoid(const char* name, F&& body) noexcept {
  Guarded(name, 0, [&] {
    std::forward<F>(body)();
    return 0;
  });
}

}  // namespace kiv
