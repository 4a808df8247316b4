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
#include "link/phone_link.hpp"
#include "phonesim/sim_channel.hpp"
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

// A phone link that drives a channel to a simulated phone made by the test.
class SimLink : public kiv::PhoneLink {
 public:
  explicit SimLink(std::shared_ptr<phonesim::Phone> phone) : channel_(kiv::MakeSimChannel(std::move(phone))) {}
  void SetTransMethod(int) override {}
  void SetComPort(int) override {}
  void SetBaudrate(int) override {}
  void SetHWnd(KivHwnd) override {}
  int Connect(const char* id, int length) override { return channel_->Open(std::string_view(id, length)); }
  int IsConnected() override { return channel_->IsOpen() ? 1 : 0; }
  void Disconnect() override { channel_->Close(); }
  void CleanVestrel() override {}
  int ClosePortHandle() override { return 1; }
  void SetBTDeviceAddress(const uint8_t[6]) override {}
  int BTConnection() override { return 0; }
  int BTConnectionEx() override { return 0; }
  int BTDisconnection() override { return 0; }
  int BTDisconnectionEx() override { return 0; }
  uint8_t GetNextSeqNum() override { return ++seq_; }
  uint32_t GetReqTimeout() override { return timeout_; }
  void SetReqTimeout(uint32_t ms) override { timeout_ = ms; }
  int PktSend(const kiv::CGenPacket& request) override { return channel_->Send(request) ? 1 : 0; }
  int PktRead(kiv::CGenPacket& answer) override { return channel_->Read(answer, timeout_); }
  int GetPhoneInfo(uint8_t info[kiv::kPhoneInfoSize]) override { return channel_->PhoneInfo(info); }
  int SetBackupTool() override { return 1; }

 private:
  std::unique_ptr<kiv::Channel> channel_;
  uint8_t seq_ = 0;
  uint32_t timeout_ = 20000;
};

// A fresh folder under the system's temporary folder, removed at the end.
class TempFolder {
 public:
  explicit TempFolder(const std::string& tag) {
    path = fs::temp_directory_path() /
           ("kivmod-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path path;

 private:
  static inline int counter_ = 0;
};

inline std::vector<uint8_t> RandomBytes(std::size_t n, uint32_t seed = 7) {
  std::vector<uint8_t> out(n);
  std::mt19937 gen(seed);
  for (auto& b : out) b = static_cast<uint8_t>(gen());
  return out;
}

inline void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

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
