// The tool's backup commands: backup FILE, restore FILE, backup-info FILE.
#pragma once

#include <string>

#include "commands.hpp"

namespace cli {

// Back the phone up into file; connects in backup mode itself.
int BackupCommand(const Options& options, const std::string& file);
// Restore file onto the phone (asks for a password at a terminal when the phone wants one).
int RestoreCommand(const Options& options, const std::string& file);
// What file holds, read without a phone.
int BackupInfoCommand(const Options& options, const std::string& file);

}  // namespace cli
