#include "diagnose.hpp"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host.hpp"

namespace cli {
namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// How long the library waits for the phone's first answer, in seconds, as shown.
std::string WaitShown() {
  int ms = 5000;
  if (const char* v = std::getenv("KIVMOD_CONNECT_WAIT_MS"); v && *v) {
    int value = 0;
    auto [end, ec] = std::from_chars(v, v + std::strlen(v), value);
    if (ec == std::errc() && !*end && value > 0) ms = value;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g s", ms / 1000.0);
  return buf;
}

std::string Answered(const std::string& where) {
  return "no phone answered on " + where + " within " + WaitShown() + " (is it switched on and connected?)";
}

}  // namespace

bool WellFormedLink(const std::string& link, std::string& problem) {
  const auto colon = link.find(':');
  const std::string scheme = link.substr(0, colon == std::string::npos ? link.size() : colon);
  const std::string rest = colon == std::string::npos ? std::string() : link.substr(colon + 1);
  if (scheme == "sim" && !kSimLink) {
    problem = "link " + link + ": the simulated phone (sim:) is not part of this build; run kivmod-phonesim and use tcp:HOST:PORT";
    return false;
  }
  if (scheme == "sim" || scheme == "serial") {
    if (!rest.empty()) return true;
    problem = "link " + link + " names no " + (scheme == "sim" ? "folder" : "device");
    return false;
  }
  if (scheme == "tcp") {
    const auto last = rest.rfind(':');
    int port = 0;
    const std::string digits = last == std::string::npos ? std::string() : rest.substr(last + 1);
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (last != std::string::npos && last > 0 && !digits.empty() && ec == std::errc() &&
        end == digits.data() + digits.size() && port >= 1 && port <= 65535)
      return true;
    problem = "link " + link + " is not tcp:HOST:PORT (PORT from 1 to 65535)";
    return false;
  }
  if (scheme == "bt") {
    uint8_t address[6];
    if (ParseBluetoothAddress(rest, address)) return true;
    problem = "link " + link + " is not bt:aa:bb:cc:dd:ee:ff";
    return false;
  }
  problem = "unknown link " + link + " (sim:FOLDER, serial:DEVICE, tcp:HOST:PORT or bt:ADDR)";
  return false;
}

std::string ConnectFailure(const LinkOptions& options) {
  const std::string head = "could not connect to the phone: ";
  const std::string& link = options.link;
  if (link.empty() && options.bluetooth) {
    char shown[18];
    std::snprintf(shown, sizeof shown, "%02x:%02x:%02x:%02x:%02x:%02x", options.address[0], options.address[1],
                  options.address[2], options.address[3], options.address[4], options.address[5]);
    return head + "no answer over Bluetooth from " + shown +
           " (is it paired, in reach and offering the serial port service?)";
  }
  if (link.empty()) {
    const std::string device = ComDevice(options.port);
    std::string problem = SerialProblem(device);
    const std::string where = "COM" + std::to_string(options.port) + " (" + device + ")";
    return head + "no link given (--link, KIVMOD_LINK or the configuration file), so the cable at " + where + " was tried: " +
           (problem.empty() ? Answered(device) : problem);
  }
  if (StartsWith(link, "sim:")) return head + SimProblem(link.substr(4));
  if (StartsWith(link, "serial:")) {
    std::string problem = SerialProblem(link.substr(7));
    return head + (problem.empty() ? Answered(link) : problem);
  }
  if (StartsWith(link, "tcp:")) {
    std::string problem = TcpProblem(link.substr(4));
    return head + (problem.empty() ? Answered(link) : problem);
  }
  return head + "no answer over " + link;
}

}  // namespace cli
