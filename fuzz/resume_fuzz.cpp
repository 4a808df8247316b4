// Feeds arbitrary bytes to the resume record's loader as the work folder's ResumeFiles.txt,
// without a phone: the split into source and target and the look at the source must hold
// for any content. Any crash, out-of-bounds read, leak or hang is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "filemanager/manager.hpp"
#include "scratch.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const fuzz::ScratchFolder work("kivmod-resume-fuzz", true);
  const std::filesystem::path file = work / "ResumeFiles.txt";
  if (std::FILE* f = std::fopen(file.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  kiv::CPhoneFileManager manager;
  manager.LoadResumeDetails();
  return 0;
}
