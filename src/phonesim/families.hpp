// Command families of the simulated phone. Each answers the requests it knows and returns
// nothing for the others, so that the phone's dispatcher can ask them in turn.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "phonesim/phone.hpp"

namespace phonesim {

// Folder listings, file details, file and folder operations, storage space.
std::optional<Packet> HandleFileCommands(Phone& phone, const Packet& request);
// Uploads (phone to PC), downloads (PC to phone) and their resume.
std::optional<Packet> HandleTransferCommands(Phone& phone, const Packet& request);
// Writes the download piece that was answered before it was written, if there is one.
void WriteAnsweredPiece(Phone& phone);
// Playlists and the sound list with its tags.
std::optional<Packet> HandleMediaCommands(Phone& phone, const Packet& request);

// The Java installer: installing an application file (0x23).
std::optional<Packet> HandleJavaCommands(Phone& phone, const Packet& request);
// E-mail (packet class 0x26): capability, header, body and attachments; accepted messages
// are written to the outbox folder as .eml files.
std::optional<Packet> HandleEmailCommands(Phone& phone, const Packet& request);

// One installed application, as the phone lists it.
struct InstalledApp {
  std::string name, version, vendor, file;  // file: the phone path it was installed from
};
// The list of installed applications, kept in this file at the top of the served folder.
inline constexpr const char* kInstalledAppsFile = "installed-apps.txt";
std::vector<InstalledApp> InstalledApps(const Phone& phone);
// The backup agent: its directories and their file lists, its information document, the
// restore preparation and the password check (its transfers are the ordinary ones).
std::optional<Packet> HandleBackupCommands(Phone& phone, const Packet& request);

}  // namespace phonesim
