#include "phonesim/families.hpp"

namespace phonesim {

std::optional<Packet> HandleTransferCommands(Phone&, const Packet&) { return std::nullopt; }

}  // namespace phonesim
