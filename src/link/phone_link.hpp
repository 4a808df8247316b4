// The phone link: owns the channel to the phone, frames packets and matches answers.
// The library reaches it only through CurrentLink().
#pragma once

#include <cstdint>
#include <memory>

#include "kivmod/kivmod.h"
#include "link/packet.hpp"

namespace kiv {

// Connect results.
inline constexpr int CM_RET_SUCCESS = 1;
inline constexpr int CM_RET_GLOBALLOCKED = -2;
inline constexpr int CM_RET_FAILED = 0;

// Transfer methods that select Bluetooth.
inline constexpr int kMethodBluetooth = 0x17;
inline constexpr int kMethodBluetoothAlt = 0x0D;
inline bool IsBluetoothMethod(int method) {
  return method == kMethodBluetooth || method == kMethodBluetoothAlt;
}

inline constexpr std::size_t kPhoneInfoSize = 168;

class PhoneLink {
 public:
  virtual ~PhoneLink() = default;
  virtual void SetTransMethod(int method) = 0;
  virtual void SetComPort(int port) = 0;
  virtual void SetBaudrate(int rate) = 0;
  virtual void SetHWnd(KivHwnd window) = 0;
  // 1 connected, -2 phone locked, anything else failed.
  virtual int Connect(const char* id, int length) = 0;
  virtual int IsConnected() = 0;
  virtual void Disconnect() = 0;
  virtual void CleanVestrel() = 0;
  virtual int ClosePortHandle() = 0;
  virtual void SetBTDeviceAddress(const uint8_t address[6]) = 0;
  // Low byte nonzero = connected / done.
  virtual int BTConnection() = 0;
  virtual int BTConnectionEx() = 0;
  virtual int BTDisconnection() = 0;
  virtual int BTDisconnectionEx() = 0;
  virtual uint8_t GetNextSeqNum() = 0;
  virtual uint32_t GetReqTimeout() = 0;
  virtual void SetReqTimeout(uint32_t ms) = 0;
  // 0 = not sent.
  virtual int PktSend(const CGenPacket& request) = 0;
  // 1 = an answer arrived and was stored in answer.
  virtual int PktRead(CGenPacket& answer) = 0;
  // 1 = filled; model name at offset 1, 8-bit, NUL-terminated.
  virtual int GetPhoneInfo(uint8_t info[kPhoneInfoSize]) = 0;
  virtual int SetBackupTool() = 0;
};

// Sets a link's answer wait for a scope and puts the previous one back on every way out.
class WaitScope {
 public:
  WaitScope(PhoneLink& link, uint32_t ms) : link_(link), saved_(link.GetReqTimeout()) { link.SetReqTimeout(ms); }
  ~WaitScope() { link_.SetReqTimeout(saved_); }
  WaitScope(const WaitScope&) = delete;
  WaitScope& operator=(const WaitScope&) = delete;

 private:
  PhoneLink& link_;
  uint32_t saved_;
};

// The module-wide current link: an installed link when there is one, else the built-in
// links (chosen by KIVMOD_LINK or by transfer method and port at connect time).
PhoneLink& CurrentLink();
// Installs a link in place of the built-in ones; null goes back to them.
void InstallLink(std::shared_ptr<PhoneLink> link);
// Installs the host's own transport (a copy of its operations table); null goes back to the
// built-in links.
void InstallHostLink(const KivPhoneLinkOps* ops);

}  // namespace kiv
