// The one phone link stub shared by tests, benchmarks and fuzz targets: every call that a
// test does not care about succeeds and does nothing. Subclasses answer packets their way;
// SimLink hands them to a simulated phone in this process.
#pragma once

#include <memory>
#include <string_view>

#include "link/phone_link.hpp"
#include "phonesim/sim_channel.hpp"

namespace kivtest {

class NullLink : public kiv::PhoneLink {
 public:
  void SetTransMethod(int) override {}
  void SetComPort(int) override {}
  void SetBaudrate(int) override {}
  void SetHWnd(KivHwnd) override {}
  int Connect(const char*, int) override { return 1; }
  int IsConnected() override { return 1; }
  void Disconnect() override {}
  void CleanVestrel() override {}
  int ClosePortHandle() override { return 1; }
  void SetBTDeviceAddress(const uint8_t[6]) override {}
  int BTConnection() override { return 1; }
  int BTConnectionEx() override { return 1; }
  int BTDisconnection() override { return 1; }
  int BTDisconnectionEx() override { return 1; }
  uint8_t GetNextSeqNum() override { return ++seq_; }
  uint32_t GetReqTimeout() override { return timeout_; }
  void SetReqTimeout(uint32_t ms) override { timeout_ = ms; }
  int PktSend(const kiv::CGenPacket&) override { return 1; }
  int PktRead(kiv::CGenPacket&) override { return 0; }
  int GetPhoneInfo(uint8_t[kiv::kPhoneInfoSize]) override { return 0; }
  int SetBackupTool() override { return 1; }

 private:
  uint8_t seq_ = 0;
  uint32_t timeout_ = 20000;
};

// A link straight onto a simulated phone made by the caller; Connect opens it.
class SimLink : public NullLink {
 public:
  explicit SimLink(std::shared_ptr<phonesim::Phone> phone) : channel_(kiv::MakeSimChannel(std::move(phone))) {}
  int Connect(const char* id, int length) override { return channel_->Open(std::string_view(id, length)); }
  int IsConnected() override { return channel_->IsOpen() ? 1 : 0; }
  void Disconnect() override { channel_->Close(); }
  int PktSend(const kiv::CGenPacket& request) override { return channel_->Send(request) ? 1 : 0; }
  int PktRead(kiv::CGenPacket& answer) override { return channel_->Read(answer, GetReqTimeout()); }
  int GetPhoneInfo(uint8_t info[kiv::kPhoneInfoSize]) override { return channel_->PhoneInfo(info); }

 private:
  std::unique_ptr<kiv::Channel> channel_;
};

}  // namespace kivtest
