// Paired Bluetooth phones and the RFCOMM channel of their serial port service, for kivmod
// detect: the pairings from BlueZ (its D-Bus object manager), the channel from each phone's
// service discovery (SDP).
#pragma once

#include <string>
#include <vector>

namespace cli {

struct PairedPhone {
  std::string address;  // AA:BB:CC:DD:EE:FF
  std::string name;
  int channel = -1;     // -1 when the phone did not say (problem says why)
  std::string problem;
};

// The paired phones (devices whose class is a phone, or that give no class). False, with why
// set, when they cannot be searched: no adapter, BlueZ not running, or a build without BlueZ.
bool PairedPhones(std::vector<PairedPhone>& out, std::string& why);

}  // namespace cli
