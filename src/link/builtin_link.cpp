#include "link/builtin_link.hpp"

#include <algorithm>
#include <string>

#include "platform/trace.hpp"

namespace kiv {

int BuiltinLink::Connect(const char* id, int length) {
  std::string_view text = id && length > 0 ? std::string_view(id, static_cast<std::size_t>(length)) : "";
  return Open(text, false);
}

void BuiltinLink::SetBTDeviceAddress(const uint8_t address[6]) {
  if (address) std::copy_n(address, 6, settings_.btAddress.begin());
}

int BuiltinLink::Open(std::string_view id, bool bluetooth) {
  Close();
  settings_.bluetooth = bluetooth;
  std::string error;
  channel_ = MakeChannel(settings_, error);
  if (!channel_) {
    TraceF("phone link: no channel: %s\n", error.c_str());
    return CM_RET_FAILED;
  }
  int result = channel_->Open(id);
  if (result != CM_RET_SUCCESS) channel_.reset();
  return result;
}

void BuiltinLink::Close() {
  if (channel_) channel_->Close();
  channel_.reset();
}

}  // namespace kiv
