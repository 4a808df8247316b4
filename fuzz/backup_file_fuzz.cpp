// Feeds arbitrary bytes to the backup data file reader as a file on disk: the header check
// walks the whole file, then every entry and its content is read in small and large steps.
// Any crash, out-of-bounds read, leak or hang is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "link/backup_file.hpp"
#include "platform/text.hpp"
#include "scratch.hpp"

namespace {

const std::string& DataPath() {
  static const std::string path = fuzz::ScratchPath("kivmod-backup-fuzz") + ".dat";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (std::FILE* f = std::fopen(DataPath().c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  const int32_t h = kiv::BACKUP_OpenBakupDataFile(kiv::Utf8ToU16(DataPath()), kiv::kBackupModeRead);
  if (h >= 0) {
    kiv::BackupHeaderBlock expected = kiv::BackupHeaderBlock::Make(1);
    if (kiv::BACKUP_ReadBackupFileHeader(h, expected)) {
      kiv::BackupEntryRecord entry;
      uint8_t buffer[4096];
      for (int step = 0; kiv::BACKUP_ReadBackupFileInfo(h, entry) == 1; ++step) {
        uint32_t got = 0;
        const uint32_t want = step % 2 ? 1 : sizeof buffer;
        while (kiv::BACKUP_ReadBackupFileStream(h, buffer, want, &got) && got > 0) {
        }
      }
    }
    kiv::BACKUP_CloseBackupDataFile(h, kiv::kBackupCloseOk);
  }
  std::remove(DataPath().c_str());
  return 0;
}
