#include "link/plugged_link.hpp"

#include <array>
#include <vector>

namespace kiv {

// A missing function pointer acts as a link that does nothing and reports failure.
#define KIV_INVOKE(fn, fallback, ...) (ops_.fn ? ops_.fn(ops_.user __VA_OPT__(, ) __VA_ARGS__) : (fallback))
#define KIV_DO(fn, ...)                                      \
  do {                                                       \
    if (ops_.fn) ops_.fn(ops_.user __VA_OPT__(, ) __VA_ARGS__); \
  } while (0)

void PluggedLink::SetTransMethod(int method) { KIV_DO(set_trans_method, method); }
void PluggedLink::SetComPort(int port) { KIV_DO(set_com_port, port); }
void PluggedLink::SetBaudrate(int rate) { KIV_DO(set_baudrate, rate); }
void PluggedLink::SetHWnd(KivHwnd window) { KIV_DO(set_hwnd, window); }
int PluggedLink::Connect(const char* id, int length) { return KIV_INVOKE(connect, CM_RET_FAILED, id, length); }
int PluggedLink::IsConnected() { return KIV_INVOKE(is_connected, 0); }
void PluggedLink::Disconnect() { KIV_DO(disconnect); }
void PluggedLink::CleanVestrel() { KIV_DO(clean); }
int PluggedLink::ClosePortHandle() { return KIV_INVOKE(close_port_handle, 0); }
void PluggedLink::SetBTDeviceAddress(const uint8_t address[6]) { KIV_DO(set_bt_device_address, address); }
int PluggedLink::BTConnection() { return KIV_INVOKE(bt_connection, 0); }
int PluggedLink::BTConnectionEx() { return KIV_INVOKE(bt_connection_ex, 0); }
int PluggedLink::BTDisconnection() { return KIV_INVOKE(bt_disconnection, 0); }
int PluggedLink::BTDisconnectionEx() { return KIV_INVOKE(bt_disconnection_ex, 0); }
uint8_t PluggedLink::GetNextSeqNum() { return KIV_INVOKE(get_next_seq_num, uint8_t{0}); }
uint32_t PluggedLink::GetReqTimeout() { return KIV_INVOKE(get_req_timeout, 0u); }
void PluggedLink::SetReqTimeout(uint32_t ms) { KIV_DO(set_req_timeout, ms); }

int PluggedLink::PktSend(const CGenPacket& request) {
  return KIV_INVOKE(pkt_send, 0, request.GetClass(), request.GetCode(), request.GetFlag(), request.GetSeq(),
                  request.GetData(), request.GetDataLength());
}

int PluggedLink::PktRead(CGenPacket& answer) {
  if (!ops_.pkt_read) return 0;
  uint8_t cls = 0, code = 0;
  uint16_t length = 0;
  int result = ops_.pkt_read(ops_.user, &cls, &code, readBuffer_.data(), &length);
  std::vector<uint8_t>& body = answer.MutableBody();
  if (result == 1) {
    body.assign(readBuffer_.begin(), readBuffer_.begin() + length);
  } else {
    body.clear();
  }
  answer.SetHeader(cls, code, 1, 0);
  return result;
}

int PluggedLink::GetPhoneInfo(uint8_t info[kPhoneInfoSize]) { return KIV_INVOKE(get_phone_info, 0, info); }
int PluggedLink::SetBackupTool() { return KIV_INVOKE(set_backup_tool, 0); }

#undef KIV_INVOKE
#undef KIV_DO

}  // namespace kiv
