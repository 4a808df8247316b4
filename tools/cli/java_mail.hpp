// The tool's Java installer and e-mail commands. Each family opens its own session (the
// installer's manager, the e-mail object) rather than the file session of the other commands.
#pragma once

#include <string>
#include <vector>

#include "host.hpp"

namespace cli {

// "java install|check|rm ..." and "mail send|limits ..."; args follow the family's word.
// Returns the tool's exit code.
int RunJava(const std::vector<std::string>& args, const LinkOptions& link);
int RunMail(const std::vector<std::string>& args, const LinkOptions& link);

}  // namespace cli
