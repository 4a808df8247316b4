// Host-supplied records into the folder tree, and copies of the tree's records out.
#include <memory>

#include "boundary/collections.hpp"
#include "boundary/exports_common.hpp"
#include "platform/text.hpp"

using kiv::CPhoneFileManager;
using kiv::FromHost;
using kiv::Guarded;
using kiv::WithManager;

extern "C" {

KIV_API KivFileInfoList* Kiv_FileInfoList_New(void) {
  return Guarded<KivFileInfoList*>("Kiv_FileInfoList_New", nullptr,
                                   [] { return std::make_unique<KivFileInfoList>().release(); });
}
KIV_API int32_t Kiv_FileInfoList_Count(const KivFileInfoList* list) {
  return list ? static_cast<int32_t>(list->views.size()) : 0;
}
KIV_API const KivFileInfo* Kiv_FileInfoList_At(const KivFileInfoList* list, int32_t index) {
  if (!list || index < 0 || static_cast<std::size_t>(index) >= list->views.size()) return nullptr;
  return &list->views[static_cast<std::size_t>(index)];
}
KIV_API void Kiv_FileInfoList_Free(KivFileInfoList* list) { std::unique_ptr<KivFileInfoList> owned(list); }

KIV_API KivFolderInfoList* Kiv_FolderInfoList_New(void) {
  return Guarded<KivFolderInfoList*>("Kiv_FolderInfoList_New", nullptr,
                                     [] { return std::make_unique<KivFolderInfoList>().release(); });
}
KIV_API int32_t Kiv_FolderInfoList_Count(const KivFolderInfoList* list) {
  return list ? static_cast<int32_t>(list->views.size()) : 0;
}
KIV_API const KivFolderInfo* Kiv_FolderInfoList_At(const KivFolderInfoList* list, int32_t index) {
  if (!list || index < 0 || static_cast<std::size_t>(index) >= list->views.size()) return nullptr;
  return &list->views[static_cast<std::size_t>(index)];
}
KIV_API void Kiv_FolderInfoList_Free(KivFolderInfoList* list) { std::unique_ptr<KivFolderInfoList> owned(list); }

KIV_API int32_t Kiv_AddFileInfos(const KivChar* folder, const KivChar* name, uint32_t size, uint32_t,
                                 uint32_t time1, uint32_t time2, uint32_t time3, uint32_t attributes) {
  return WithManager("Kiv_AddFileInfos", -1, [&](CPhoneFileManager& m) {
    return m.AddFileInfos(FromHost(folder), FromHost(name), size, time1, time2, time3, attributes);
  });
}

KIV_API int32_t Kiv_AddFolderInfo(const KivChar* path) {
  return WithManager("Kiv_AddFolderInfo", 0, [&](CPhoneFileManager& m) { return m.AddFolderInfo(FromHost(path)); });
}

KIV_API int32_t Kiv_GetFileAndFolderInfo(void) {
  return WithManager("Kiv_GetFileAndFolderInfo", 0,
                     [](CPhoneFileManager& m) { return static_cast<int32_t>(m.m_FolderInfos.size()); });
}

KIV_API int32_t Kiv_GetList(const KivChar* folder, KivFileInfoList* files, KivFolderInfoList* folders) {
  WithManager("Kiv_GetList", 0, [&](CPhoneFileManager& m) {
    std::u16string path = FromHost(folder);
    if (files)
      for (const auto& f : m.m_FileInfos)
        if (f.m_strFolder == path) files->Append(f);
    if (folders)
      for (const auto& f : m.m_FolderInfos)
        if (f.m_strUpFolderName == path) folders->Append(f);
    return 0;
  });
  return 1;
}

KIV_API int32_t Kiv_GetTopList(const KivChar* parent, KivFolderInfoList* folders) {
  WithManager("Kiv_GetTopList", 0, [&](CPhoneFileManager& m) {
    std::u16string path = FromHost(parent);
    if (folders)
      for (const auto& f : m.m_FolderInfos)
        if (f.m_strUpFolderName == path) folders->Append(f);
    return 0;
  });
  return 1;
}

}  // extern "C"
