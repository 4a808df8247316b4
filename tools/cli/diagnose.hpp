// Why a connection failed: the link the tool tried, checked the way the library would open
// it, so that the message names the device or address and the system's error.
#pragma once

#include <string>

namespace cli {

struct LinkOptions;

// Whether a link text is well formed ("sim:FOLDER", "serial:DEVICE", "tcp:HOST:PORT",
// "bt:ADDR"); otherwise problem says what is wrong with it.
bool WellFormedLink(const std::string& link, std::string& problem);

// The sentence for a connection that did not open: the link or device tried and why.
std::string ConnectFailure(const LinkOptions& options);

// The system part (diagnose_posix.cpp, diagnose_win32.cpp).
// Whether this build has the in-process simulated phone (sim:FOLDER).
extern const bool kSimLink;
// The device of COM port n, by the same settings the library reads.
std::string ComDevice(int port);
// Why a serial device cannot be opened, or "" when it opens (then the phone did not answer).
std::string SerialProblem(const std::string& device);
// Why a TCP connection to host:port cannot be made, or "" when it can.
std::string TcpProblem(const std::string& hostPort);
// Why the simulated phone in folder did not answer.
std::string SimProblem(const std::string& folder);

}  // namespace cli
