// The plugged link: every phone link call goes to the host's KivPhoneLinkOps.
#pragma once

#include <vector>

#include "link/phone_link.hpp"

namespace kiv {

class PluggedLink : public PhoneLink {
 public:
  explicit PluggedLink(const KivPhoneLinkOps& ops) : ops_(ops) {}
  void SetTransMethod(int method) override;
  void SetComPort(int port) override;
  void SetBaudrate(int rate) override;
  void SetHWnd(KivHwnd window) override;
  int Connect(const char* id, int length) override;
  int IsConnected() override;
  void Disconnect() override;
  void CleanVestrel() override;
  int ClosePortHandle() override;
  void SetBTDeviceAddress(const uint8_t address[6]) override;
  int BTConnection() override;
  int BTConnectionEx() override;
  int BTDisconnection() override;
  int BTDisconnectionEx() override;
  uint8_t GetNextSeqNum() override;
  uint32_t GetReqTimeout() override;
  void SetReqTimeout(uint32_t ms) override;
  int PktSend(const CGenPacket& request) override;
  int PktRead(CGenPacket& answer) override;
  int GetPhoneInfo(uint8_t info[kPhoneInfoSize]) override;
  int SetBackupTool() override;

 private:
  KivPhoneLinkOps ops_;
  // Room for the longest body, filled by the host's read and copied out at its length.
  std::vector<uint8_t> readBuffer_ = std::vector<uint8_t>(CGenPacket::kMaxBody);
};

}  // namespace kiv
