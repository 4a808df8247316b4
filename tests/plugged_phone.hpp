// The families' test helpers over the shared support header: the scripted phone behind the
// plugged link, and a host window that records the messages it receives.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "kivmod/kivmod.h"
#include "kivtest.hpp"

namespace kivold {

// The shared scripted phone, its sent packets and the answer body builder.
using kivtest::Body;
using kivtest::PluggedPhone;
using kivtest::SentPacket;

// A host window that records the messages it receives.
struct Message {
  uint32_t msg;
  uintptr_t wParam;
  uint32_t style = 0;
  std::u16string text1, text2;
};

class RecordingWindow {
 public:
  RecordingWindow() : wnd(Kiv_CreateWindow(&Proc, this)) {}
  ~RecordingWindow() { Kiv_DestroyWindow(wnd); }
  RecordingWindow(const RecordingWindow&) = delete;
  RecordingWindow& operator=(const RecordingWindow&) = delete;
  int Count(uint32_t msg, uintptr_t wParam) const {
    int n = 0;
    for (const auto& m : messages) n += m.msg == msg && m.wParam == wParam;
    return n;
  }
  KivHwnd wnd;
  std::vector<Message> messages;
  intptr_t reply = 0;

 private:
  static intptr_t Proc(void* user, KivHwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    auto* self = static_cast<RecordingWindow*>(user);
    Message m{msg, wParam, 0, {}, {}};
    if (msg == KIV_MSG_REPORT && lParam) {
      auto* r = reinterpret_cast<const KivReport*>(lParam);
      m.style = r->style;
      m.text1 = r->text1 ? r->text1 : u"";
      m.text2 = r->text2 ? r->text2 : u"";
    }
    self->messages.push_back(std::move(m));
    return self->reply;
  }
};

}  // namespace kivold
