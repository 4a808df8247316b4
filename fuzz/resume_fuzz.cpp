// Feeds arbitrary bytes to the resume record's loader as the work folder's ResumeFiles.txt,
// without a phone: the split into source and target and the look at the source must hold
// for any content. Any crash, out-of-bounds read, leak or hang is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <string>

#include "filemanager/manager.hpp"
#include "scratch.hpp"

namespace {

// The work folder is made for each input and removed after it, since libFuzzer may end
// the process without running exit handlers.
const std::filesystem::path& WorkFolder() {
  static const std::filesystem::path path = [] {
    std::filesystem::path p = fuzz::ScratchPath("kivmod-resume-fuzz");
    ::setenv("KIVMOD_WORKDIR", p.c_str(), 1);
    return p;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::error_code ec;
  std::filesystem::create_directory(WorkFolder(), ec);
  const std::filesystem::path file = WorkFolder() / "ResumeFiles.txt";
  if (std::FILE* f = std::fopen(file.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  kiv::CPhoneFileManager manager;
  manager.LoadResumeDetails();
  std::filesystem::remove_all(WorkFolder(), ec);
  return 0;
}
