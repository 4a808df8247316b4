#include "platform/byte_stream.hpp"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "platform/fd_stream.hpp"
#include "platform/tcp_socket.hpp"

#ifdef KIVMOD_HAVE_BLUEZ
#include <bluetooth/bluetooth.h>
#include <bluetooth/rfcomm.h>
#endif

namespace kiv {

#ifdef KIVMOD_HAVE_BLUEZ

bool BluetoothSupported() { return true; }

std::unique_ptr<ByteStream> ConnectRfcommStream(const RfcommTarget& target, int timeoutMs, std::string& error) {
  std::string where = FormatBtAddress(target.address) + " channel " + std::to_string(target.channel);
  UniqueFd fd(::socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, BTPROTO_RFCOMM));
  if (!fd.Valid()) {
    error = std::string("no RFCOMM socket (is Bluetooth present?): ") + std::strerror(errno);
    return nullptr;
  }
  sockaddr_rc addr{};
  addr.rc_family = AF_BLUETOOTH;
  static_assert(sizeof addr.rc_bdaddr == 6);
  std::memcpy(&addr.rc_bdaddr, target.bdaddr.data(), 6);
  addr.rc_channel = target.channel;
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS) {
      error = "RFCOMM connect to " + where + ": " + std::strerror(errno);
      return nullptr;
    }
    std::string why;
    if (!FinishConnect(fd.Get(), timeoutMs, why)) {
      error = "RFCOMM " + why + " (" + where + ")";
      return nullptr;
    }
  }
  return MakeFdStream(std::move(fd));
}

#else

bool BluetoothSupported() { return false; }

std::unique_ptr<ByteStream> ConnectRfcommStream(const RfcommTarget& target, int, std::string& error) {
  error = "Bluetooth is not supported by this build (built without BlueZ); cannot reach " +
          FormatBtAddress(target.address);
  return nullptr;
}

#endif

}  // namespace kiv
