// Host-supplied records, copies of the tree for the host, and the tree's lookups.
#include <gtest/gtest.h>

#include "filemanager/manager.hpp"
#include "kivmod/kivmod.h"
#include "platform/shell_path.hpp"

namespace {

using kiv::CPhoneFileManager;

class HostListsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Kiv_InitalizeU(nullptr);
    m = kiv::CurrentManager();
    m->m_FolderInfos.emplace_back(nullptr, 0x3, u"Music", 8);
    m->m_FolderInfos.back().m_arrTypes = {u"mp3", u"WMA"};
    m->m_FolderInfos.emplace_back(nullptr, 0x3, u"Memory Card", 8);
  }
  void TearDown() override { kiv::DestroyCurrentManager(); }
  CPhoneFileManager* m = nullptr;
};

TEST_F(HostListsTest, AddedFilesGetConsecutiveIndexesWithoutDeduplication) {
  EXPECT_EQ(Kiv_AddFileInfos(u"Music", u"a.mp3", 10, 99, 1, 2, 3, 0x40), 0);
  EXPECT_EQ(Kiv_AddFileInfos(u"Music", u"a.mp3", 10, 99, 1, 2, 3, 0x40), 1);
  ASSERT_EQ(m->m_FileInfos.size(), 2u);
  const auto& f = m->m_FileInfos[1];
  EXPECT_EQ(f.m_nLocalSize, 0);
  EXPECT_EQ(f.m_dwTime1, 1u);
  EXPECT_EQ(f.m_dwTime3, 3u);
  EXPECT_EQ(f.m_dwAttr, 0x40u);
}

TEST_F(HostListsTest, AddFolderNeedsAKnownParentAndASession) {
  EXPECT_EQ(Kiv_AddFolderInfo(u"Music\\Rock"), 0);  // not connected
  m->m_bConnected = 1;
  EXPECT_EQ(Kiv_AddFolderInfo(u"Unknown\\Rock"), 0);
  EXPECT_EQ(Kiv_GetFileAndFolderInfo(), 2);
  EXPECT_EQ(Kiv_AddFolderInfo(u"music\\Rock"), 1);
  ASSERT_EQ(Kiv_GetFileAndFolderInfo(), 3);
  const auto& added = m->m_FolderInfos[2];
  // The parent's own spelling is kept, its types are inherited, and it counts as listed.
  EXPECT_EQ(added.m_sFolderName, u"Music\\Rock");
  EXPECT_EQ(added.m_strUpFolderName, u"Music");
  EXPECT_EQ(added.m_arrTypes.size(), 2u);
  EXPECT_EQ(added.m_dwAttr, 0x3u);
  EXPECT_EQ(m->m_FolderInfos[0].m_bListed, 1);
}

TEST_F(HostListsTest, AddFolderUsesTheDepthOfItsMemory) {
  m->m_bConnected = 1;
  m->m_strExtraMemory = u"Memory Card";
  m->m_InternalMemory.maxDepth = 8;
  m->m_ExternalMemory.maxDepth = 2;
  ASSERT_EQ(Kiv_AddFolderInfo(u"Memory Card\\Pics"), 1);
  ASSERT_EQ(Kiv_AddFolderInfo(u"Music\\Pics"), 1);
  // Attributes 3 carry no subfolder bit to clear, so the depth shows only through the rule's
  // other effects; check the memory choice directly.
  EXPECT_EQ(&m->MemoryOf(u"Memory Card\\Pics"), &m->m_ExternalMemory);
  EXPECT_EQ(&m->MemoryOf(u"memory card"), &m->m_ExternalMemory);
  EXPECT_EQ(&m->MemoryOf(u"Memory Cards\\x"), &m->m_InternalMemory);
  EXPECT_EQ(&m->MemoryOf(u"Music\\Memory Card"), &m->m_InternalMemory);
}

TEST_F(HostListsTest, GetAndTopListsCopyExactMatchesInOrderAndAppend) {
  Kiv_AddFileInfos(u"Music", u"one.mp3", 1, 0, 0, 0, 0, 0);
  Kiv_AddFileInfos(u"music", u"case.mp3", 2, 0, 0, 0, 0, 0);
  Kiv_AddFileInfos(u"Music", u"two.mp3", 3, 0, 0, 0, 0, 0);
  m->m_bConnected = 1;
  Kiv_AddFolderInfo(u"Music\\Rock");
  KivFileInfoList* files = Kiv_FileInfoList_New();
  KivFolderInfoList* folders = Kiv_FolderInfoList_New();
  EXPECT_EQ(Kiv_GetList(u"Music", files, folders), 1);
  EXPECT_EQ(Kiv_GetList(u"Music", files, folders), 1);
  ASSERT_EQ(Kiv_FileInfoList_Count(files), 4);
  EXPECT_EQ(std::u16string(Kiv_FileInfoList_At(files, 1)->name), u"two.mp3");
  EXPECT_EQ(Kiv_FileInfoList_At(files, 3)->size, 3);
  ASSERT_EQ(Kiv_FolderInfoList_Count(folders), 2);
  const KivFolderInfo* rock = Kiv_FolderInfoList_At(folders, 0);
  EXPECT_EQ(std::u16string(rock->folderName), u"Music\\Rock");
  EXPECT_EQ(rock->freeSize, -1);
  EXPECT_EQ(Kiv_StringList_Count(rock->types), 2);
  EXPECT_EQ(std::u16string(Kiv_StringList_At(rock->types, 1)), u"WMA");
  EXPECT_EQ(Kiv_FileInfoList_At(files, 4), nullptr);

  KivFileInfoList* none = Kiv_FileInfoList_New();
  EXPECT_EQ(Kiv_GetList(u"Nothing", none, nullptr), 1);
  EXPECT_EQ(Kiv_FileInfoList_Count(none), 0);
  Kiv_FileInfoList_Free(none);
  Kiv_FileInfoList_Free(files);
  Kiv_FolderInfoList_Free(folders);

  // The top list appends the folders whose parent is exactly the one named: "root" adds nothing.
  KivFolderInfoList* top = Kiv_FolderInfoList_New();
  EXPECT_EQ(Kiv_GetTopList(u"Root", top), 1);
  ASSERT_EQ(Kiv_FolderInfoList_Count(top), 2);
  EXPECT_EQ(std::u16string(Kiv_FolderInfoList_At(top, 1)->upFolderName), u"Root");
  EXPECT_EQ(Kiv_GetTopList(u"root", top), 1);
  EXPECT_EQ(Kiv_FolderInfoList_Count(top), 2);
  Kiv_FolderInfoList_Free(top);
}

TEST_F(HostListsTest, TreeLookups) {
  Kiv_AddFileInfos(u"Music", u"a.mp3", 5, 0, 0, 0, 0, 0);
  EXPECT_NE(m->FindFileByPath(u"MUSIC\\A.mp3"), nullptr);
  EXPECT_EQ(m->FolderAcceptsExtension(u"music", u".Mp3"), 1);
  EXPECT_EQ(m->FolderAcceptsExtension(u"Music", u"ogg"), 0);
  EXPECT_EQ(m->FolderAcceptsExtension(u"Memory Card", u"ogg"), 1);
  EXPECT_EQ(m->FolderAcceptsExtension(u"Nowhere", u"mp3"), 0);
  EXPECT_TRUE(CPhoneFileManager::IsStrictlyInside(u"Music", u"music\\Rock\\x"));
  EXPECT_FALSE(CPhoneFileManager::IsStrictlyInside(u"Music", u"MUSIC"));
  EXPECT_FALSE(CPhoneFileManager::IsStrictlyInside(u"Mus", u"Music\\x"));
  EXPECT_TRUE(CPhoneFileManager::IsDirectChild(u"Music", u"Music\\Rock"));
  EXPECT_FALSE(CPhoneFileManager::IsDirectChild(u"Music", u"Music\\Rock\\x"));
  EXPECT_EQ(m->IsListed(u"Nowhere"), 1);
  EXPECT_EQ(m->IsListed(u"Music"), 0);
  // Present: unlisted folder is not; listed with a file still missing locally is not.
  EXPECT_EQ(m->IsFullyPresent(u"Music", false), 0);
  m->FindFolder(u"Music")->m_bListed = 1;
  EXPECT_EQ(m->IsFullyPresent(u"Music", false), 0);
  m->FindFileByPath(u"Music\\a.mp3")->m_nLocalSize = 5;
  EXPECT_EQ(m->IsFullyPresent(u"Music", true), 1);
  EXPECT_EQ(m->IsFullyPresent(u"\\", true), 1);
}

TEST(ShellPathTest, Components) {
  struct Case {
    std::u16string path, folder, name;
  };
  const Case cases[] = {{u"a\\b\\c.mp3", u"a\\b", u"c.mp3"}, {u"c.mp3", u"", u"c.mp3"},
                        {u"\\a", u"\\", u"a"},             {u"a\\b\\", u"a", u"b\\"}};
  for (const auto& c : cases) {
    EXPECT_EQ(kiv::PathRemoveFileSpec(c.path), c.folder);
    EXPECT_EQ(kiv::PathFileName(c.path), c.name);
  }
  EXPECT_EQ(kiv::PathExtension(u"a.b\\c"), u"");
  EXPECT_EQ(kiv::PathExtension(u"x\\c.tar.GZ"), u".GZ");
}

}  // namespace
