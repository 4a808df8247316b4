// Settings of the simulated phone, and their configuration file (XML, read with libxml2).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace phonesim {

struct MemoryLimits {
  uint32_t fileName = 255;
  uint32_t folderName = 255;
  uint32_t path = 1024;
  uint8_t depth = 8;
  uint64_t total = 256ull << 20;
  std::optional<uint64_t> free;  // unset: total minus what the served folder holds
};

struct RootFolder {
  std::u16string name;
  int mode = 3;                      // 1 copy to PC, 2 copy to phone, 3 both
  std::vector<std::u16string> exts;  // empty: every extension
};

// A scripted misbehaviour for one command code.
struct Fault {
  enum class Kind { Refuse, Result, Truncate };
  uint8_t code = 0;
  Kind kind = Kind::Refuse;
  uint8_t result = 0;     // Result: the result byte to answer with
  std::size_t length = 0; // Truncate: answer body length to keep
  int times = -1;         // how many requests it hits; -1 = all
};

struct Config {
  std::string model = "KIVSIM 100";
  int version = 9;  // 0 = the first (oldest) handshake form
  uint32_t maxPacket = 32768;
  MemoryLimits internal;
  bool hasCard = false;
  std::u16string cardName = u"Memory Card";
  MemoryLimits card;
  std::u16string typeTable = u"mp3|3|0/wma|3|0/aac|3|0/amr|3|0/mid|3|0/wav|3|0/jpg|3|0/gif|3|0/png|3|0/"
                             u"bmp|3|0/3gp|3|0/mp4|3|0/jar|2|0/jad|2|0/txt|3|0/m3u|3|0";
  std::vector<RootFolder> roots;  // empty: the served folder's top-level folders, mode 3
  std::map<std::u16string, uint32_t> folderAttributes;  // listing attribute word by folder path
  // Folders (keyed like folderAttributes, "\\"-separated) where the phone refuses every
  // change: to their entries and to those of every folder below them.
  std::set<std::u16string> readOnlyFolders;
  bool locked = false;
  // Folder of the served tree that holds the playlists, one NAME.m3u8 file each.
  std::u16string playlistFolder = u"Playlists";
  std::vector<Fault> faults;
  int dropAfterPackets = -1;  // link goes down after this many requests; -1 never
  uint32_t delayMs = 0;       // pause before every answer
  // Byte-stream servers only: damage the answer frame to the request with this number
  // (counted from 1 over packet requests); -1 never.
  int corruptAfterPackets = -1;
  int truncateAfterPackets = -1;
  // E-mail: the 25 limits of the capability answer (docs/phonesim.md) and the folder that
  // accepted messages are written to (empty: "Outbox" in the served folder).
  std::array<uint32_t, 25> mailLimits = {20u << 20, 10, 16u << 20, 1u << 20, 100, 0, 0, 0, 0, 0, 10, 512, 10,
                                         512, 10, 512, 10, 512, 1, 1024, 512, 128, 512, 0, 0};
  std::string outbox;
  // Backup agent: the directories it offers ("/"-separated, parents first; empty: every
  // folder of the served tree) and the password a restore must give (unset: any).
  std::vector<std::u16string> backupDirs;
  std::optional<std::u16string> backupPassword;
};

// Reads a configuration file; nullopt with error set when it is unreadable or invalid.
std::optional<Config> LoadConfig(const std::string& path, std::string& error);

}  // namespace phonesim
