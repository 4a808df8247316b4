#include "phonesim/families.hpp"

namespace phonesim {

std::optional<Packet> HandleFileCommands(Phone&, const Packet&) { return std::nullopt; }

}  // namespace phonesim
