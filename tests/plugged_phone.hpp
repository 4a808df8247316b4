// A phone scripted byte by byte behind the plugged link (KivPhoneLinkOps): it records every
// call that reaches the link, in order, and answers requests from a queue.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "kivmod/kivmod.h"

namespace kivold {

struct SentPacket {
  uint8_t cls, code;
  int32_t flag;
  uint8_t seq;
  std::vector<uint8_t> body;
};

struct ScriptedAnswer {
  uint8_t cls = 0x20;
  uint8_t code = 0;
  std::vector<uint8_t> body;
  int result = 1;  // what pkt_read returns
};

class PluggedPhone {
 public:
  PluggedPhone() { Kiv_SetPhoneLink(&ops_); }
  ~PluggedPhone() { Kiv_SetPhoneLink(nullptr); }
  PluggedPhone(const PluggedPhone&) = delete;
  PluggedPhone& operator=(const PluggedPhone&) = delete;

  // Answers the next request with class/code echoing it unless cls is given.
  void Answer(std::vector<uint8_t> body, int cls = -1, int code = -1) {
    answers.push_back({static_cast<uint8_t>(cls < 0 ? 0x20 : cls), static_cast<uint8_t>(code < 0 ? 0 : code),
                       std::move(body), 1});
    echo.push_back(code < 0);
  }
  void NoAnswer() {
    answers.push_back({0, 0, {}, 0});
    echo.push_back(false);
  }
  bool Called(const std::string& call) const {
    for (const auto& c : calls)
      if (c == call) return true;
    return false;
  }
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& c : calls)
      if (c.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
  }

  std::vector<std::string> calls;
  std::vector<SentPacket> sent;
  std::deque<ScriptedAnswer> answers;
  std::deque<bool> echo;
  int connectResult = 1;
  int btResult = 1;
  bool linkUp = false;
  bool sendFails = false;
  uint32_t timeout = 5000;
  uint8_t seq = 0;
  uint8_t phoneInfo[168] = {};
  int phoneInfoResult = 1;

 private:
  static PluggedPhone& Self(void* user) { return *static_cast<PluggedPhone*>(user); }
  static void Log(void* user, std::string call) { Self(user).calls.push_back(std::move(call)); }

  KivPhoneLinkOps ops_{
      this,
      [](void* u, int m) { Log(u, "SetTransMethod(" + std::to_string(m) + ")"); },
      [](void* u, int p) { Log(u, "SetComPort(" + std::to_string(p) + ")"); },
      [](void* u, int r) { Log(u, "SetBaudrate(" + std::to_string(r) + ")"); },
      [](void* u, KivHwnd w) { Log(u, std::string("SetHWnd(") + (w ? "wnd" : "null") + ")"); },
      [](void* u, const char* id, int len) {
        Log(u, "Connect(" + std::string(id, static_cast<std::size_t>(len)) + "," + std::to_string(len) + ")");
        auto& s = Self(u);
        s.linkUp = s.connectResult == 1;
        return s.connectResult;
      },
      [](void* u) { return Self(u).linkUp ? 1 : 0; },
      [](void* u) {
        Log(u, "Disconnect");
        Self(u).linkUp = false;
      },
      [](void* u) { Log(u, "Clean"); },
      [](void* u) {
        Log(u, "ClosePortHandle");
        return 1;
      },
      [](void* u, const uint8_t a[6]) {
        char text[48];
        std::snprintf(text, sizeof text, "SetBTDeviceAddress(%02x%02x%02x%02x%02x%02x)", a[0], a[1], a[2], a[3],
                      a[4], a[5]);
        Log(u, text);
      },
      [](void* u) {
        Log(u, "BTConnection");
        Self(u).linkUp = (Self(u).btResult & 0xFF) != 0;
        return Self(u).btResult;
      },
      [](void* u) {
        Log(u, "BTConnectionEx");
        Self(u).linkUp = (Self(u).btResult & 0xFF) != 0;
        return Self(u).btResult;
      },
      [](void* u) {
        Log(u, "BTDisconnection");
        Self(u).linkUp = false;
        return 1;
      },
      [](void* u) {
        Log(u, "BTDisconnectionEx");
        Self(u).linkUp = false;
        return 1;
      },
      [](void* u) -> uint8_t {
        Log(u, "GetNextSeqNum");
        return ++Self(u).seq;
      },
      [](void* u) -> uint32_t {
        Log(u, "GetReqTimeout");
        return Self(u).timeout;
      },
      [](void* u, uint32_t ms) {
        Log(u, "SetReqTimeout(" + std::to_string(ms) + ")");
        Self(u).timeout = ms;
      },
      [](void* u, uint8_t cls, uint8_t code, int32_t flag, uint8_t seq, const uint8_t* body, uint16_t len) {
        char text[64];
        std::snprintf(text, sizeof text, "PktSend(%02x,%02x,%d,len=%u)", cls, code, flag, len);
        Log(u, text);
        auto& s = Self(u);
        if (s.sendFails) return 0;
        s.sent.push_back({cls, code, flag, seq, len ? std::vector<uint8_t>(body, body + len) : std::vector<uint8_t>()});
        return 1;
      },
      [](void* u, uint8_t* cls, uint8_t* code, uint8_t* body, uint16_t* len) {
        Log(u, "PktRead");
        auto& s = Self(u);
        if (s.answers.empty()) return 0;
        ScriptedAnswer a = std::move(s.answers.front());
        bool echoCode = s.echo.front();
        s.answers.pop_front();
        s.echo.pop_front();
        if (a.result != 1) return a.result;
        *cls = a.cls;
        *code = echoCode && !s.sent.empty() ? s.sent.back().code : a.code;
        if (!a.body.empty()) std::memcpy(body, a.body.data(), a.body.size());
        *len = static_cast<uint16_t>(a.body.size());
        return 1;
      },
      [](void* u, uint8_t info[168]) {
        Log(u, "GetPhoneInfo");
        std::memcpy(info, Self(u).phoneInfo, 168);
        return Self(u).phoneInfoResult;
      },
      [](void* u) {
        Log(u, "SetBackupTool");
        return 1;
      },
  };
};

// Little-endian body builder for scripted answers.
class Body {
 public:
  Body& B(uint8_t v) {
    bytes.push_back(v);
    return *this;
  }
  Body& W(uint16_t v) { return B(static_cast<uint8_t>(v)).B(static_cast<uint8_t>(v >> 8)); }
  Body& D(uint32_t v) { return W(static_cast<uint16_t>(v)).W(static_cast<uint16_t>(v >> 16)); }
  Body& T(std::u16string_view text) {
    for (char16_t c : text) W(c);
    return W(0);
  }
  operator std::vector<uint8_t>() const { return bytes; }
  std::vector<uint8_t> bytes;
};

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
