// The built-in phone link: keeps what the host set (method, port, rate, address, answer
// wait, sequence numbers) and drives a Channel chosen at connect time.
#pragma once

#include <memory>

#include "link/channel.hpp"
#include "link/phone_link.hpp"

namespace kiv {

// Answer wait until a command sets its own.
inline constexpr uint32_t kDefaultReqTimeoutMs = 20000;

class BuiltinLink : public PhoneLink {
 public:
  void SetTransMethod(int method) override { settings_.method = method; }
  void SetComPort(int port) override { settings_.comPort = port; }
  void SetBaudrate(int rate) override { settings_.baudrate = rate; }
  void SetHWnd(KivHwnd window) override { window_ = window; }
  int Connect(const char* id, int length) override;
  int IsConnected() override { return channel_ && channel_->IsOpen() ? 1 : 0; }
  void Disconnect() override { Close(); }
  void CleanVestrel() override { Close(); }
  int ClosePortHandle() override {
    Close();
    return 1;
  }
  void SetBTDeviceAddress(const uint8_t address[6]) override;
  int BTConnection() override { return OpenBluetooth(); }
  int BTConnectionEx() override { return OpenBluetooth(); }
  int BTDisconnection() override { return ClosePortHandle(); }
  int BTDisconnectionEx() override { return ClosePortHandle(); }
  uint8_t GetNextSeqNum() override { return ++seq_; }
  uint32_t GetReqTimeout() override { return timeoutMs_; }
  void SetReqTimeout(uint32_t ms) override { timeoutMs_ = ms; }
  int PktSend(const CGenPacket& request) override {
    return channel_ && channel_->IsOpen() && channel_->Send(request) ? 1 : 0;
  }
  int PktRead(CGenPacket& answer) override { return channel_ ? channel_->Read(answer, timeoutMs_) : 0; }
  int GetPhoneInfo(uint8_t info[kPhoneInfoSize]) override { return channel_ ? channel_->PhoneInfo(info) : 0; }
  int SetBackupTool() override { return channel_ ? channel_->SetBackupTool() : 0; }

 private:
  int Open(std::string_view id, bool bluetooth);
  int OpenBluetooth() { return Open({}, true) == CM_RET_SUCCESS ? 1 : 0; }
  void Close();

  LinkSettings settings_;
  KivHwnd window_ = nullptr;
  std::unique_ptr<Channel> channel_;
  uint8_t seq_ = 0;
  uint32_t timeoutMs_ = kDefaultReqTimeoutMs;
};

}  // namespace kiv
