// Folder and file records: path depth, the attribute rule, and the indexed lists.
#include <gtest/gtest.h>

#include "filemanager/record_lists.hpp"

namespace kiv {
namespace {

TEST(RecordsTest, PathDepthIgnoresLeadingAndTrailingBackslash) {
  const std::pair<std::u16string, int> cases[] = {{u"", 1},     {u"a", 1},           {u"\\a", 1},      {u"a\\", 1},
                                                  {u"a\\b", 2}, {u"\\a\\b\\", 2},    {u"a\\b\\c", 3},  {u"\\", 1},
                                                  {u"\\\\", 1}, {u"a\\\\b", 3}};
  for (const auto& [path, depth] : cases) EXPECT_EQ(PathDepth(path), depth) << std::string(path.begin(), path.end());
}

// The subfolder bit (8) goes at the memory's deepest level; the pre-listed bit (0x20) is taken
// off and marks the folder listed and opened; a top folder's parent is "Root".
TEST(RecordsTest, FolderAttributesParentAndTypes) {
  struct Case {
    uint32_t attr;
    const char16_t* name;
    int maxDepth;
    uint32_t kept;
    int listed;
  };
  const Case cases[] = {{0x8 | 0x3, u"a\\b\\c", 3, 0x3, 0}, {0x8 | 0x3, u"a\\b", 3, 0xB, 0},
                        {0x8, u"Music", 1, 0, 0},           {0x20 | 0x1, u"x", 8, 0x1, 1}};
  for (const auto& c : cases) {
    PhoneFolderInfo f(nullptr, c.attr, c.name, c.maxDepth);
    EXPECT_EQ(f.m_dwAttr, c.kept) << std::hex << c.attr;
    EXPECT_EQ(f.m_bListed, c.listed);
    EXPECT_EQ(f.m_bSubOpened, c.listed);
  }
  PhoneFolderInfo parent(nullptr, 0x3, u"Music", 8);
  parent.m_arrTypes = {u"mp3"};
  EXPECT_EQ(parent.m_strUpFolderName, u"Root");
  EXPECT_EQ(parent.m_nFreeSize, -1);
  EXPECT_TRUE(PhoneFolderInfo(nullptr, 0x3, u"Other", 8).m_arrTypes.empty());
  PhoneFolderInfo child(&parent, 0x3, u"Music\\Rock", 8);
  EXPECT_EQ(child.m_strUpFolderName, u"Music");
  EXPECT_EQ(child.m_arrTypes, parent.m_arrTypes);
}

TEST(RecordListsTest, FindGivesTheFirstMatchIgnoringCase) {
  FolderList folders;
  folders.emplace_back(nullptr, 1, u"Music", 8);
  folders.emplace_back(nullptr, 2, u"MUSIC", 8);
  folders.emplace_back(nullptr, 3, u"Bilder\u00C4", 8);
  ASSERT_NE(folders.Find(u"music"), nullptr);
  EXPECT_EQ(folders.Find(u"music")->m_dwAttr, 1u);
  EXPECT_NE(folders.Find(u"bilder\u00E4"), nullptr);
  EXPECT_EQ(folders.Find(u"Musi"), nullptr);

  FileList files;
  files.push_back({u"Music", u"a.mp3", 1});
  files.push_back({u"music", u"A.MP3", 2});
  files.push_back({u"Music\\x", u"a.mp3", 3});
  EXPECT_EQ(files.Find(u"MUSIC", u"a.Mp3")->m_nSize, 1);
  EXPECT_EQ(files.Find(u"music\\X", u"a.mp3")->m_nSize, 3);
  // The separator between folder and name cannot be faked by a name.
  EXPECT_EQ(files.Find(u"Music\\x", u""), nullptr);
  EXPECT_EQ(files.Find(u"Music", u"x\\a.mp3"), nullptr);
}

TEST(RecordListsTest, IndexFollowsEraseTruncateAndReindex) {
  FileList files;
  for (int i = 0; i < 5; ++i) files.push_back({u"F", u"n" + std::u16string(1, static_cast<char16_t>(u'0' + i)), i});
  files.erase(files.begin() + 1);
  EXPECT_EQ(files.Find(u"F", u"n1"), nullptr);
  EXPECT_EQ(files.Find(u"F", u"n2")->m_nSize, 2);
  EXPECT_EQ(*files.IndexOf(u"F", u"n4"), 3u);
  files.truncate(2);
  EXPECT_EQ(files.Find(u"F", u"n3"), nullptr);
  files.push_back({u"F", u"n3", 33});
  EXPECT_EQ(files.Find(u"F", u"n3")->m_nSize, 33);
  files[0].m_strName = u"renamed";
  files.Reindex();
  EXPECT_EQ(files.Find(u"F", u"n0"), nullptr);
  EXPECT_NE(files.Find(u"F", u"RENAMED"), nullptr);
  files.clear();
  EXPECT_EQ(files.Find(u"F", u"n2"), nullptr);
}

}  // namespace
}  // namespace kiv
