#include "detect.hpp"

#include <cstdio>
#include <cstdlib>

#include "detect_bluetooth.hpp"
#include "diagnose.hpp"
#include "system.hpp"
#include "text.hpp"

namespace cli {
namespace {

// The cable session's transfer method, as Connect uses it.
constexpr int32_t kCableMethod = 1;

}  // namespace

int Detect(Host& host, const Options& options, const std::vector<std::string>& given) {
  const std::vector<std::string> devices = given.empty() ? SerialDevices() : given;
  // A device with nothing on it should not hold the search up for long.
  SetEnv("KIVMOD_CONNECT_WAIT_MS", "2000", false);
  JsonValue found = JsonValue::array();
  for (const std::string& device : devices) {
    if (Cancelled()) return kExitCancelled;
    SetEnv("KIVMOD_LINK", "serial:" + device, true);
    host.Reset();
    host.holdReports = true;
    Kiv_InitalizeU(host.Window());
    const bool connected = Kiv_Connect(1, 0, host.Window(), kCableMethod) == 1;
    host.holdReports = false;
    if (!connected) {
      LinkOptions tried = options.link;
      tried.link = "serial:" + device;
      if (!Quiet()) std::fprintf(stderr, "kivmod: %s: %s\n", device.c_str(),
                                 host.locked ? "a phone that is locked" : ConnectFailure(tried).c_str());
      continue;
    }
    KivChar model[256] = {};
    Kiv_GetModelName(model);
    const int version = Kiv_GetFileManVersion();
    Kiv_Disconnect();
    found.push_back({{"link", "serial:" + device}, {"model", Utf8(model)}, {"version", version}});
    if (!options.json) std::printf("serial:%s  %s  protocol %d\n", device.c_str(), Utf8(model).c_str(), version);
  }
  // Paired Bluetooth phones, when no device was named.
  if (given.empty() && !Cancelled()) {
    std::vector<PairedPhone> phones;
    std::string why;
    if (!PairedPhones(phones, why)) {
      if (!Quiet()) std::fprintf(stderr, "kivmod: Bluetooth phones not searched: %s\n", why.c_str());
    } else if (phones.empty() && !Quiet()) {
      std::fprintf(stderr, "kivmod: no paired Bluetooth phone\n");
    }
    for (const PairedPhone& phone : phones) {
      if (phone.channel < 0) {
        if (!Quiet()) std::fprintf(stderr, "kivmod: bt:%s (%s): %s\n", phone.address.c_str(), phone.name.c_str(),
                                   phone.problem.c_str());
        continue;
      }
      found.push_back({{"link", "bt:" + phone.address}, {"name", phone.name}, {"channel", phone.channel}});
      if (!options.json)
        std::printf("bt:%s  %s  channel %d\n", phone.address.c_str(), phone.name.c_str(), phone.channel);
    }
  }
  if (options.json) std::printf("%s\n", Dump(found).c_str());
  if (found.empty() && !options.json && !Quiet())
    std::fprintf(stderr, "kivmod: no phone answered on %s\n",
                 devices.empty() ? "any serial device (none found)" : "the serial devices tried");
  return found.empty() ? kExitConnect : kExitOk;
}

}  // namespace cli
