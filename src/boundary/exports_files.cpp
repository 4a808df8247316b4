// The file exports: copy phone files to a PC folder and PC files to the phone, delete,
// rename, create a folder, resume an interrupted copy to the phone.
#include <vector>

#include "boundary/collections.hpp"
#include "boundary/exports_common.hpp"
#include "kivmod/kivmod.h"
#include "platform/text.hpp"
#include "platform/shell_path.hpp"

using kiv::WithManager;

namespace {

std::vector<std::u16string> Texts(const KivStringList* list) { return list ? list->items : std::vector<std::u16string>(); }

}  // namespace

extern "C" {

KIV_API int32_t Kiv_SendToPC(const KivStringList* sources, const KivChar* targetFolder, KivHwnd wnd) {
  return WithManager("Kiv_SendToPC", 0, [&](kiv::CPhoneFileManager& m) {
    std::u16string target = kiv::FromHost(targetFolder);
    int32_t completed = 0;  // the host does not see it
    return m.AssureUploadCompleted(Texts(sources), wnd, &target, &completed);
  });
}

KIV_API int32_t Kiv_DeletePhoneFile(const KivStringList* sources, KivHwnd wnd, const KivStringList* kinds) {
  return WithManager("Kiv_DeletePhoneFile", 0, [&](kiv::CPhoneFileManager& m) {
    std::vector<std::u16string> kindTexts = Texts(kinds);
    return m.DeletePhoneFile(Texts(sources), wnd, kinds ? &kindTexts : nullptr);
  });
}

KIV_API int32_t Kiv_RenamePhoneFile(const KivChar* oldPath, const KivChar* newPath, KivHwnd wnd, int32_t isFolder) {
  return WithManager("Kiv_RenamePhoneFile", 0, [&](kiv::CPhoneFileManager& m) {
    std::u16string from = kiv::FromHost(oldPath);
    std::u16string to = kiv::FromHost(newPath);
    std::u16string oldName(kiv::PathFileName(from));
    std::u16string newName(kiv::PathFileName(to));
    return m.RenamePhoneFile(from, oldName, newName, wnd, isFolder != 0);
  });
}

KIV_API int32_t Kiv_SendToPhone(const KivStringList* sources, const KivChar* targetFolder, int32_t phoneSource,
                                int32_t move, KivHwnd wnd) {
  return WithManager("Kiv_SendToPhone", 0, [&](kiv::CPhoneFileManager& m) {
    return m.SendFileToPhone(Texts(sources), kiv::FromHost(targetFolder), phoneSource != 0, move != 0, wnd);
  });
}

KIV_API int32_t Kiv_ResumfileDownLoad(KivHwnd wnd) {
  return WithManager("Kiv_ResumfileDownLoad", 0, [&](kiv::CPhoneFileManager& m) { return m.ResumeFileDownload(wnd); });
}

KIV_API int32_t CreatePhoneDirectory(const KivChar* path, KivHwnd wnd) {
  return WithManager("CreatePhoneDirectory", 0,
                     [&](kiv::CPhoneFileManager& m) { return m.CreatePhoneDirectory(kiv::FromHost(path), wnd); });
}

}  // extern "C"
