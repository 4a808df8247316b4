// What the tests share: a phone scripted byte by byte behind the plugged link, a host window
// that records every message, host lists, temporary folders, environment settings, answer
// body building and the one cancel-from-another-thread helper.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "kivmod/kivmod.h"
#include "platform/text.hpp"

namespace kivtest {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Report = std::tuple<uintptr_t, uint32_t, std::u16string>;  // code, style, text1

// Sets (or, with null, unsets) an environment variable until the end of the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Set(name, value);
  }
  ~ScopedEnv() { Set(name_.c_str(), old_ ? old_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  static void Set(const char* name, const char* value) {
#ifdef _WIN32
    ::_putenv_s(name, value ? value : "");
#else
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
#endif
  }
  std::string name_;
  std::optional<std::string> old_;
};

// A fresh folder under the system's temporary folder, removed at the end. With enter set it
// is the process's current folder meanwhile (phone paths looked up on the PC resolve there).
class TempDir {
 public:
  explicit TempDir(const std::string& tag, bool enter = false)
      : path(fs::temp_directory_path() /
             ("kivmod-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++))) {
    fs::remove_all(path);
    fs::create_directories(path);
    if (enter) previous_ = fs::current_path(), fs::current_path(path);
  }
  ~TempDir() {
    if (!previous_.empty()) fs::current_path(previous_);
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  fs::path path;

 private:
  fs::path previous_;
  static inline int counter_ = 0;
};

inline Bytes RandomBytes(std::size_t n, uint32_t seed = 7) {
  Bytes out(n);
  std::mt19937 gen(seed);
  for (auto& b : out) b = static_cast<uint8_t>(gen());
  return out;
}
inline void WriteFile(const fs::path& path, std::string_view bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
inline void WriteFile(const fs::path& path, const Bytes& bytes) {
  WriteFile(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}
inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline Bytes ReadFile(const fs::path& path) {
  std::string text = ReadText(path);
  return Bytes(text.begin(), text.end());
}
inline std::u16string U16(const fs::path& path) { return path.u16string(); }
inline const KivChar* K(const std::u16string& text) { return kiv::AsKiv(text.c_str()); }

// Little-endian body builder for answers and expected requests.
class Body {
 public:
  Body& B(uint8_t v) { return bytes.push_back(v), *this; }
  Body& W(uint16_t v) { return B(static_cast<uint8_t>(v)).B(static_cast<uint8_t>(v >> 8)); }
  Body& D(uint32_t v) { return W(static_cast<uint16_t>(v)).W(static_cast<uint16_t>(v >> 16)); }
  // UTF-16 units, and with T a NUL unit after them.
  Body& U(std::u16string_view text) {
    for (char16_t c : text) W(c);
    return *this;
  }
  Body& T(std::u16string_view text) { return U(text).W(0); }
  // A "p"/"s" field: a length byte counting the NUL, the units, the NUL.
  Body& S(std::u16string_view text) { return B(static_cast<uint8_t>(text.size() + 1)).T(text); }
  Body& Raw(const Bytes& more) { return bytes.insert(bytes.end(), more.begin(), more.end()), *this; }
  operator Bytes() const { return bytes; }
  Bytes bytes;
};

// The texts of a request body made of "p" and "s" fields.
inline std::vector<std::u16string> Texts(const Bytes& body) {
  std::vector<std::u16string> out;
  for (std::size_t at = 0; at < body.size();) {
    std::size_t units = body[at++];
    if (units == 0 || at + 2 * units > body.size()) break;
    std::u16string text;
    for (std::size_t i = 0; i + 1 < units; ++i) text.push_back(static_cast<char16_t>(body[at + 2 * i] | body[at + 2 * i + 1] << 8));
    out.push_back(std::move(text));
    at += 2 * units;
  }
  return out;
}

struct SentPacket {
  uint8_t cls, code;
  int32_t flag;
  uint8_t seq;
  Bytes body;
};

// A phone scripted behind the plugged link: answers requests from a queue, keeps every
// request, the waits the library set and the names of the link calls in order.
class PluggedPhone {
 public:
  struct ScriptedAnswer {
    uint8_t cls;
    int code;  // -1: the request's code
    Bytes body;
    int result;  // what pkt_read returns
  };
  PluggedPhone() { Kiv_SetPhoneLink(&ops_); }
  ~PluggedPhone() { Kiv_SetPhoneLink(nullptr); }
  PluggedPhone(const PluggedPhone&) = delete;
  PluggedPhone& operator=(const PluggedPhone&) = delete;

  void Answer(Bytes body, int cls = 0x20, int code = -1) {
    answers.push_back({static_cast<uint8_t>(cls), code, std::move(body), 1});
  }
  void NoAnswer() { answers.push_back({0, 0, {}, 0}); }
  bool Called(const std::string& call) const { return std::find(calls.begin(), calls.end(), call) != calls.end(); }
  std::vector<uint8_t> Codes() const {
    std::vector<uint8_t> out;
    for (const auto& p : sent) out.push_back(p.code);
    return out;
  }
  void Clear() {
    sent.clear(), calls.clear(), waits.clear(), answers.clear();
    sendFails = false;
  }

  std::vector<std::string> calls;
  std::vector<SentPacket> sent;
  std::vector<uint32_t> waits;  // every SetReqTimeout
  std::deque<ScriptedAnswer> answers;
  int connectResult = 1, btResult = 1, phoneInfoResult = 1;
  bool linkUp = false, sendFails = false;
  uint32_t timeout = 5000;
  uint8_t seq = 0;
  uint8_t phoneInfo[168] = {};

 private:
  static PluggedPhone& S(void* user) { return *static_cast<PluggedPhone*>(user); }
  static void Log(void* user, std::string call) { S(user).calls.push_back(std::move(call)); }
  static int Up(void* user, std::string call, int result) {
    Log(user, std::move(call));
    S(user).linkUp = (result & 0xFF) != 0;
    return result;
  }

  KivPhoneLinkOps ops_{
      this,
      [](void* u, int m) { Log(u, "SetTransMethod(" + std::to_string(m) + ")"); },
      [](void* u, int p) { Log(u, "SetComPort(" + std::to_string(p) + ")"); },
      [](void* u, int r) { Log(u, "SetBaudrate(" + std::to_string(r) + ")"); },
      [](void* u, KivHwnd w) { Log(u, std::string("SetHWnd(") + (w ? "wnd" : "null") + ")"); },
      [](void* u, const char* id, int len) {
        S(u).linkUp = S(u).connectResult == 1;
        Log(u, "Connect(" + std::string(id, static_cast<std::size_t>(len)) + ")");
        return S(u).connectResult;
      },
      [](void* u) { return S(u).linkUp ? 1 : 0; },
      [](void* u) { Up(u, "Disconnect", 0); },
      [](void* u) { Log(u, "Clean"); },
      [](void*) { return 1; },
      [](void* u, const uint8_t a[6]) {
        char text[48];
        std::snprintf(text, sizeof text, "SetBTDeviceAddress(%02x%02x%02x%02x%02x%02x)", a[0], a[1], a[2], a[3], a[4],
                      a[5]);
        Log(u, text);
      },
      [](void* u) { return Up(u, "BTConnection", S(u).btResult); },
      [](void* u) { return Up(u, "BTConnectionEx", S(u).btResult); },
      [](void* u) { return Up(u, "BTDisconnection", 0), 1; },
      [](void* u) { return Up(u, "BTDisconnectionEx", 0), 1; },
      [](void* u) -> uint8_t { return Log(u, "GetNextSeqNum"), ++S(u).seq; },
      [](void* u) -> uint32_t { return Log(u, "GetReqTimeout"), S(u).timeout; },
      [](void* u, uint32_t ms) { S(u).waits.push_back(S(u).timeout = ms); },
      [](void* u, uint8_t cls, uint8_t code, int32_t flag, uint8_t seq, const uint8_t* body, uint16_t len) {
        Log(u, "Send");
        if (S(u).sendFails) return 0;
        S(u).sent.push_back({cls, code, flag, seq, len ? Bytes(body, body + len) : Bytes()});
        return 1;
      },
      [](void* u, uint8_t* cls, uint8_t* code, uint8_t* body, uint16_t* len) {
        Log(u, "Read");
        auto& s = S(u);
        if (s.answers.empty()) return 0;
        ScriptedAnswer a = std::move(s.answers.front());
        s.answers.pop_front();
        if (a.result != 1) return a.result;
        *cls = a.cls;
        *code = static_cast<uint8_t>(a.code < 0 && !s.sent.empty() ? s.sent.back().code : a.code);
        if (!a.body.empty()) std::memcpy(body, a.body.data(), a.body.size());
        *len = static_cast<uint16_t>(a.body.size());
        return 1;
      },
      [](void* u, uint8_t info[168]) { return std::memcpy(info, S(u).phoneInfo, 168), S(u).phoneInfoResult; },
      [](void*) { return 1; },
  };
};

// One message a host window received, with copies of its report or progress record.
struct Message {
  uint32_t msg = 0;
  uintptr_t code = 0;  // wParam, except for a progress record's pointer (0)
  bool record = false;  // a progress record came with the message
  uint32_t style = 0;
  std::u16string text1, text2;  // a progress record's text goes to text1
  int32_t itemCount = 0;
  uint32_t bytesDone = 0, totalBytes = 0;
  int32_t question = 0, continuing = 0;
  intptr_t value = 0;  // lParam
};

// A host window that records every message. Questions are answered from `answers` (by
// question code, in turn; 0 when none is left); onProgress runs after each plain progress,
// onMessage after every message.
class Window {
 public:
  Window() : wnd(Kiv_CreateWindow(&Proc, this)) {}
  ~Window() { Kiv_DestroyWindow(wnd); }
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  std::vector<Report> Reports() const {
    std::vector<Report> out;
    for (const auto& m : seen)
      if (m.msg == KIV_MSG_REPORT) out.emplace_back(m.code, m.style, m.text1);
    return out;
  }
  // The plain progress records (no questions).
  std::vector<Message> Progress() const {
    std::vector<Message> out;
    for (const auto& m : seen)
      if (m.record && !m.question) out.push_back(m);
    return out;
  }
  std::vector<uint32_t> Done() const {
    std::vector<uint32_t> out;
    for (const auto& p : Progress()) out.push_back(p.bytesDone);
    return out;
  }
  int Count(uint32_t msg, uintptr_t code) const {
    int n = 0;
    for (const auto& m : seen) n += m.msg == msg && m.code == code && !m.record;
    return n;
  }

  KivHwnd wnd;
  std::vector<Message> seen;
  std::map<int32_t, std::deque<intptr_t>> answers;
  std::function<void(const Message&, std::size_t count)> onProgress;
  std::function<void(const Message&)> onMessage;

 private:
  static intptr_t Proc(void* user, KivHwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    auto* self = static_cast<Window*>(user);
    Message m;
    m.msg = msg;
    m.code = wParam;
    m.value = lParam;
    if (msg == KIV_MSG_REPORT && lParam) {
      auto* r = reinterpret_cast<const KivReport*>(lParam);
      m.style = r->style;
      m.text1 = kiv::HostView(r->text1);
      m.text2 = kiv::HostView(r->text2);
    } else if (msg == KIV_MSG_PROGRESS && wParam > 0xFFFF) {
      auto* p = reinterpret_cast<const KivProgress*>(wParam);
      m = {msg, 0, true, 0, kiv::FromHost(p->text), {}, p->itemCount, p->bytesDone, p->totalBytes, p->question,
           p->continuing};
    }
    self->seen.push_back(m);
    if (self->onMessage) self->onMessage(m);
    if (m.question) {
      auto& queue = self->answers[m.question];
      if (queue.empty()) return 0;
      intptr_t reply = queue.front();
      queue.pop_front();
      return reply;
    }
    if (m.record && self->onProgress) self->onProgress(m, self->Progress().size());
    return 0;
  }
};

// An owned host string list.
class HostList {
 public:
  HostList(std::initializer_list<std::u16string> texts) : HostList(std::vector<std::u16string>(texts)) {}
  explicit HostList(const std::vector<std::u16string>& texts) : list_(Kiv_StringList_New()) {
    for (const auto& t : texts) Kiv_StringList_Add(list_, K(t));
  }
  ~HostList() { Kiv_StringList_Free(list_); }
  HostList(const HostList&) = delete;
  HostList& operator=(const HostList&) = delete;
  KivStringList* get() const { return list_; }

 private:
  KivStringList* list_;
};

// Cancels from another thread at a moment the working thread picks: Fire() lets the other
// thread run cancel() and waits until it has. Without a Fire() the thread ends unused.
class CancelFromThread {
 public:
  explicit CancelFromThread(std::function<void()> cancel)
      : thread_([this, cancel = std::move(cancel)] {
          while (stage_ == 0) std::this_thread::yield();
          if (stage_ == 1) cancel();
          stage_ = 3;
        }) {}
  ~CancelFromThread() {
    int idle = 0;
    stage_.compare_exchange_strong(idle, 2);
    thread_.join();
  }
  void Fire() {
    int idle = 0;
    if (stage_.compare_exchange_strong(idle, 1))
      while (stage_ != 3) std::this_thread::yield();
  }

 private:
  std::atomic<int> stage_{0};
  std::thread thread_;
};

}  // namespace kivtest
