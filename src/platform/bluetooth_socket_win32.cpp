#include <winsock2.h>
#include <ws2bth.h>

#include "platform/byte_stream.hpp"
#include "platform/socket_stream_win32.hpp"

namespace kiv {

bool BluetoothSupported() {
  std::string error;
  // A stack that offers RFCOMM lets the socket be made even with no radio switched on.
  return OpenSocket(AF_BTH, SOCK_STREAM, BTHPROTO_RFCOMM, error).Valid();
}

std::unique_ptr<ByteStream> ConnectRfcommStream(const RfcommTarget& target, int timeoutMs, std::string& error) {
  std::string where = FormatBtAddress(target.address) + " channel " + std::to_string(target.channel);
  std::string why;
  UniqueSocket s = OpenSocket(AF_BTH, SOCK_STREAM, BTHPROTO_RFCOMM, why);
  if (!s.Valid()) {
    error = "no RFCOMM socket (is there a Bluetooth stack?): " + why + "; cannot reach " + where;
    return nullptr;
  }
  SOCKADDR_BTH addr{};
  addr.addressFamily = AF_BTH;
  // BTH_ADDR holds the address as a number: the written form read as hexadecimal digits.
  for (uint8_t b : target.address) addr.btAddr = (addr.btAddr << 8) | b;
  addr.port = target.channel;
  if (!ConnectSocket(s.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr, timeoutMs, why)) {
    error = "RFCOMM " + why + " (" + where + ")";
    return nullptr;
  }
  return MakeSocketStream(std::move(s));
}

}  // namespace kiv
