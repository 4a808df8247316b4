// Helpers shared by the transfer tests: a window that keeps copies of the progress records
// it receives, a phone link straight onto an in-process simulated phone, and file helpers.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kivmod/kivmod.h"
#include "kivtest.hpp"
#include "link/phone_link.hpp"
#include "null_link.hpp"
#include "phonesim/phone.hpp"

namespace kivold {

namespace fs = std::filesystem;

struct ProgressCopy {
  std::u16string text;
  int32_t itemCount;
  uint32_t bytesDone, totalBytes;
  int32_t further, question, continuing;
};

// Records every progress message; onProgress runs after each (for cancelling mid-transfer).
class ProgressWindow {
 public:
  ProgressWindow() : wnd(Kiv_CreateWindow(&Proc, this)) {}
  ~ProgressWindow() { Kiv_DestroyWindow(wnd); }
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;
  std::vector<uint32_t> Done() const {
    std::vector<uint32_t> out;
    for (const auto& p : records) out.push_back(p.bytesDone);
    return out;
  }
  KivHwnd wnd;
  std::vector<ProgressCopy> records;
  std::function<void(std::size_t count)> onProgress;

 private:
  static intptr_t Proc(void* user, KivHwnd, uint32_t msg, uintptr_t wParam, intptr_t) {
    auto* self = static_cast<ProgressWindow*>(user);
    if (msg != KIV_MSG_PROGRESS || !wParam) return 0;
    auto* r = reinterpret_cast<const KivProgress*>(wParam);
    self->records.push_back({r->text ? std::u16string(r->text) : u"", r->itemCount, r->bytesDone, r->totalBytes,
                             r->further, r->question, r->continuing});
    if (self->onProgress) self->onProgress(self->records.size());
    return 0;
  }
};

// The shared simulated phone link, temporary folders and file helpers.
using kivtest::RandomBytes;
using kivtest::ReadFile;
using kivtest::SimLink;
using kivtest::WriteFile;
using TempFolder = kivtest::TempDir;

inline std::u16string U16(const fs::path& path) { return path.u16string(); }

// The little-endian bytes of "p"/"s" fields as the phone sees them.
inline void PutText(std::vector<uint8_t>& out, std::u16string_view text) {
  out.push_back(static_cast<uint8_t>(text.size() + 1));
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
}
inline void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace kivold
