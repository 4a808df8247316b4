// The tool's commands, each run on an open session; they return the tool's exit code.
#pragma once

#include <string>
#include <vector>

#include "host.hpp"
#include "tree.hpp"

namespace cli {

struct Options {
  LinkOptions link;
  bool json = false;
  bool recursive = false;   // ls, get, rm: -R
  bool longFormat = false;  // ls: -l
  bool move = false;        // put: --move
  bool fromPhone = false;   // put: --from-phone
  bool parents = false;     // mkdir: -p
  bool restart = false;     // resume: --restart
  bool discard = false;     // resume: --discard
  bool force = false;       // rm: -f
  bool replace = false;     // playlist put: --replace
  Overwrite overwrite = Overwrite::Ask;  // --yes, --no-clobber
  std::string password;     // restore: --password
};

struct Session {
  Host& host;
  Tree& tree;
  const Options& options;
};

int Info(Session& s);
int Ls(Session& s, const std::vector<std::string>& args);
int Get(Session& s, const std::vector<std::string>& args);
int Put(Session& s, const std::vector<std::string>& args);
int Rm(Session& s, const std::vector<std::string>& args);
int Mv(Session& s, const std::vector<std::string>& args);
int Mkdir(Session& s, const std::vector<std::string>& args);
int Df(Session& s, const std::vector<std::string>& args);
int Resume(Session& s);

}  // namespace cli
