// Serves a simulated phone over a byte stream (pseudo-terminal, serial device or TCP) with
// the link's framing: the phone side of the wire.
#pragma once

#include <string>

#include "phonesim/phone.hpp"

namespace phonesim {

// Answers frames arriving on fd until the peer says goodbye, the stream ends, or the phone
// drops the link. Returns false when the link was dropped by the phone (fault injection).
bool ServeStream(Phone& phone, int fd);

// Opens a pseudo-terminal pair in raw mode; returns the master fd and the slave's name
// (the device the library opens), or -1. slaveFd is kept open so that the master sees no
// hang-up while the library reopens the slave.
int OpenPseudoTerminal(std::string& slaveName, int& slaveFd);

// Puts a terminal into raw mode at the given baud rate (0: leave the speed).
bool MakeRaw(int fd, int baud);

}  // namespace phonesim
