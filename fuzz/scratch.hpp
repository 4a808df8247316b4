// The folder for the files that the file-reading targets write per input: /dev/shm when
// the system has it, since opening and removing a file there costs a fraction of doing so
// on a disk or overlay file system, else /tmp.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace fuzz {

inline std::string ScratchPath(const std::string& stem) {
  static const std::string dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return dir + "/" + stem + "-" + std::to_string(::getpid());
}

// One input's scratch folder: made when the input starts and removed when it ends, since
// libFuzzer may end the process without running exit handlers. With workFolder set it is
// also the library's work folder.
class ScratchFolder {
 public:
  ScratchFolder(const std::string& stem, bool workFolder = false) : path_(ScratchPath(stem)) {
    if (workFolder) ::setenv("KIVMOD_WORKDIR", path_.c_str(), 1);
    std::filesystem::create_directory(path_, ec_);
  }
  ~ScratchFolder() { std::filesystem::remove_all(path_, ec_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::filesystem::path operator/(const char* name) const { return path_ / name; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::error_code ec_;
};

}  // namespace fuzz
