// The folder for the files that the file-reading targets write per input: /dev/shm when
// the system has it, since opening and removing a file there costs a fraction of doing so
// on a disk or overlay file system, else /tmp.
#pragma once

#include <unistd.h>

#include <string>

namespace fuzz {

inline std::string ScratchPath(const std::string& stem) {
  static const std::string dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return dir + "/" + stem + "-" + std::to_string(::getpid());
}

}  // namespace fuzz
