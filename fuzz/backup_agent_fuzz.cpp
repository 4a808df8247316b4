// Feeds scripted answers to the backup agent's commands: its directory walk, folder file
// lists, preparation, information document, folder creation, password check, and the file
// copies between the phone and a backup data file. The first bytes choose the command and
// a size; the rest is the phone's script. Any crash, out-of-bounds access, leak or hang is a
// finding.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "answer_script.hpp"
#include "link/backup_file.hpp"
#include "platform/text.hpp"
#include "protocol/backup_commands.hpp"
#include "protocol/pfileman.hpp"
#include "scratch.hpp"

namespace {

// A backup data file holding one file entry of length bytes, opened for reading at the
// start of that entry's content; -1 when that fails.
int32_t OneEntryFile(const std::u16string& path, uint32_t length) {
  using namespace kiv;
  int32_t handle = BACKUP_OpenBakupDataFile(path, kBackupModeWrite);
  BackupEntryRecord entry;
  const std::vector<uint8_t> content(length, 'c');
  if (!BACKUP_WriteBackupFileHeader(handle, BackupHeaderBlock::Make(1)) ||
      !BackupEntryRecord::Make(kBackupKindFile, length, u"Music/f.bin", entry) ||
      !BACKUP_WriteBackupFileInfo(handle, entry) || !BACKUP_WriteBackupFileStream(handle, content.data(), length)) {
    BACKUP_CloseBackupDataFile(handle, 1);
    return kBackupInvalidHandle;
  }
  BACKUP_CloseBackupDataFile(handle, 0);
  handle = BACKUP_OpenBakupDataFile(path, kBackupModeRead);
  BackupHeaderBlock header = BackupHeaderBlock::Make(1);
  if (!BACKUP_ReadBackupFileHeader(handle, header) || BACKUP_ReadBackupFileInfo(handle, entry) != 1) {
    BACKUP_CloseBackupDataFile(handle, 0);
    return kBackupInvalidHandle;
  }
  return handle;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  fuzz::ScriptedAnswers& script = fuzz::InstalledScript();
  script.Load(data + 2, size - 2);
  // The information document and the backup data file.
  const fuzz::ScratchFolder scratch("kivmod-backup-agent-fuzz");
  const std::u16string xml = kiv::Utf8ToU16((scratch / "agent.xml").string());
  const std::u16string backup = kiv::Utf8ToU16((scratch / "phone.bak").string());

  kiv::CPFileMan session;
  kiv::CBackupToolCommands agent(session, u"mmc1");
  switch (data[0] % 9) {
    case 0: {
      std::u16string name;
      int last = 0;
      // The walk ends on the phone's last mark, a failure or the end of the script.
      for (int ok = agent.BACKUPTOOL_GetFirstDirectory(name, last); ok && !last;)
        ok = agent.BACKUPTOOL_GetNextDirectory(name, last);
      break;
    }
    case 1: {
      int count = 0;
      std::vector<std::u16string> names;
      // A folder off the card: the card's pauses between pages would only slow the run.
      agent.BACKUPTOOL_GetFolderFiles(u"Music", count, names);
      break;
    }
    case 2: agent.BACKUPTOOL_InitPhone(); break;
    case 3: agent.BACKUPTOOL_GetBackupToolVersion(xml); break;
    case 4: agent.BACKUPTOOL_CreateFolder(u"Music/New"); break;
    case 5: agent.BACKUPTOOL_CheckPass(u"secret"); break;
    case 6: agent.BackupToolConfig(); break;
    case 7: {
      int32_t handle = kiv::BACKUP_OpenBakupDataFile(backup, kiv::kBackupModeWrite);
      if (kiv::BACKUP_WriteBackupFileHeader(handle, kiv::BackupHeaderBlock::Make(1)) &&
          agent.BACKUPTOOL_UploadFile(u"Music", u"f.bin", nullptr, handle))
        kiv::BACKUP_CloseBackupDataFile(handle, 0);
      else if (handle != kiv::kBackupInvalidHandle)
        kiv::BACKUP_CloseBackupDataFile(handle, 1);
      break;
    }
    default: {
      int32_t handle = OneEntryFile(backup, data[1] * 37u);
      if (handle == kiv::kBackupInvalidHandle) break;
      // Piece sizes from none up to about 2 KiB.
      const uint32_t sizeLimit = static_cast<uint32_t>(data[1] % 64) * 32u;
      agent.BACKUPTOOL_DownloadFile(u"Music", u"f.bin", sizeLimit, nullptr, handle, data[1] * 37u);
      if (handle != kiv::kBackupInvalidHandle) kiv::BACKUP_CloseBackupDataFile(handle, 0);
      break;
    }
  }
  return 0;
}
