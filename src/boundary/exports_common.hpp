// What every export shares: running its body on the current manager, guarded.
#pragma once

#include "boundary/guard.hpp"
#include "filemanager/manager.hpp"

namespace kiv {

// Runs body on the current manager; without one the host called too early: failure.
template <typename R, typename F>
R WithManager(const char* name, R failure, F&& body) noexcept {
  return Guarded(name, failure, [&]() -> R {
    CPhoneFileManager* manager = CurrentManager();
    if (!manager) {
      TraceF("%s: no session was initialised\n", name);
      return failure;
    }
    return body(*manager);
  });
}

}  // namespace kiv
