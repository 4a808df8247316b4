// Command families of the simulated phone. Each answers the requests it knows and returns
// nothing for the others, so that the phone's dispatcher can ask them in turn.
#pragma once

#include <optional>

#include "phonesim/phone.hpp"

namespace phonesim {

// Folder listings, file details, file and folder operations, storage space.
std::optional<Packet> HandleFileCommands(Phone& phone, const Packet& request);
// Uploads (phone to PC), downloads (PC to phone) and their resume.
std::optional<Packet> HandleTransferCommands(Phone& phone, const Packet& request);
// The backup agent: its directories and their file lists, its information document, the
// restore preparation and the password check (its transfers are the ordinary ones).
std::optional<Packet> HandleBackupCommands(Phone& phone, const Packet& request);

}  // namespace phonesim
