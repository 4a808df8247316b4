// Paired Bluetooth phones on Windows: not searched (the Windows build has no service discovery
// of its own); a phone's address is given with --bt.
#include "detect_bluetooth.hpp"

namespace cli {

bool PairedPhones(std::vector<PairedPhone>&, std::string& why) {
  why = "the Windows build of kivmod does not search Bluetooth pairings; connect with --bt ADDR";
  return false;
}

}  // namespace cli
