// Windows-only paths of the local file layer: wide names, read-only files, CREATE_NEW, long
// paths in the \\?\ form, devices and pipes refused, the work folder beside the module.
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "link/backup_io.hpp"
#include "platform/local_names.hpp"
#include "platform/text.hpp"
#include "platform/workdir.hpp"

namespace {

using namespace kiv;

std::u16string U16(const std::wstring& w) { return {w.begin(), w.end()}; }

// A fresh folder with a non-ASCII name under the system's temporary folder.
class WinFiles : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1];
    ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp), 0u);
    dir = U16(temp) + u"kiv\u00e9\u4e00-" + Utf8ToU16(std::to_string(GetCurrentProcessId()));
    ASSERT_TRUE(CreateDirectoryW(LocalPath(dir).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  }
  void TearDown() override { RemoveDirectoryW(LocalPath(dir).c_str()); }

  static bool Create(const std::u16string& path, const char* text) {
    std::unique_ptr<char[]> buffer;
    std::FILE* file = OpenLocalFile(path, "wxb", buffer);
    return file && std::fputs(text, file) >= 0 && std::fclose(file) == 0;
  }

  std::u16string dir;
};

TEST_F(WinFiles, WideNamesReadOnlyFilesAndNewFilesOnly) {
  const std::u16string a = dir + u"\\\u00e9t\u00e9 \u0416.mp3", b = dir + u"/b.mp3";
  ASSERT_TRUE(Create(a, "hello"));
  errno = 0;
  EXPECT_FALSE(Create(a, "x"));  // CREATE_NEW: the name is taken
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(LocalLength(a), 5);
  EXPECT_TRUE(LocalCanRead(a));

  // A temporary is hidden while written; what it becomes is not.
  const std::u16string part = LocalTemporaryBeside(a);
  ASSERT_TRUE(Create(part, "hello"));
  EXPECT_TRUE(GetFileAttributesW(LocalPath(part).c_str()) & FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(LocalReplace(part, a));
  EXPECT_FALSE(GetFileAttributesW(LocalPath(a).c_str()) & FILE_ATTRIBUTE_HIDDEN);

  // A read-only file is replaced by a rename over it and removed like any other.
  ASSERT_TRUE(Create(b, "old"));
  ASSERT_TRUE(SetFileAttributesW(LocalPath(b).c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(LocalIsReadOnly(b));
  ASSERT_TRUE(LocalReplace(a, b));
  EXPECT_EQ(LocalLength(a), -1);
  EXPECT_EQ(LocalLength(b), 5);
  ASSERT_TRUE(SetFileAttributesW(LocalPath(b).c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(LocalRemove(b));
  EXPECT_EQ(LocalLength(b), -1);

  // Only disk files open: not a folder, not a device.
  std::unique_ptr<char[]> buffer;
  EXPECT_EQ(OpenLocalFile(dir, "rb", buffer), nullptr);
  EXPECT_EQ(OpenLocalFile(u"NUL", "rb", buffer), nullptr);
  backup_io::BufferedFile device, folder;
  EXPECT_FALSE(device.OpenForWriting(LocalPath(u"NUL")));
  EXPECT_EQ(device.error(), EINVAL);
  EXPECT_FALSE(folder.OpenForReading(LocalPath(dir)));
  EXPECT_EQ(folder.error(), EISDIR);
}

TEST_F(WinFiles, PathsPastMaxPathTakeTheLongForm) {
  std::u16string deep = dir;
  while (deep.size() <= MAX_PATH) {
    deep += u"\\" + std::u16string(50, u'd');
    ASSERT_TRUE(CreateDirectoryW(LocalPath(deep).c_str(), nullptr));
  }
  EXPECT_TRUE(LocalPath(deep).native().starts_with(L"\\\\?\\"));
  EXPECT_TRUE(LocalIsDirectory(deep));
  const std::u16string file = deep + u"\\\u00fcber.txt", moved = deep + u"\\moved.txt";
  ASSERT_TRUE(Create(file, "long"));
  EXPECT_TRUE(LocalReplace(file, moved));
  EXPECT_EQ(LocalLength(moved), 4);

  // A temporary of a process that has ended is swept; ours stays.
  const std::u16string ours = LocalTemporaryBeside(moved), stale = deep + u"\\.kivmod-4000000-0.part";
  ASSERT_TRUE(Create(ours, "o") && Create(stale, "s"));
  EXPECT_EQ(RemoveStaleTemporaries(deep), 1);
  EXPECT_EQ(LocalLength(stale), -1);

  EXPECT_TRUE(LocalRemove(ours) && LocalRemove(moved));
  for (; deep.size() > dir.size(); deep.resize(deep.find_last_of(u'\\'))) EXPECT_TRUE(LocalRemove(deep));
}

TEST(WinText, AnsiAndLocalNames) {
  // No ANSI page but UTF-8 has the character: it becomes '?', the rest stays.
  const std::string ansi = U16ToAnsi(u"a\U0001F600b");
  if (GetACP() != CP_UTF8) {
    EXPECT_EQ(ansi.front(), 'a');
    EXPECT_NE(ansi.find('?'), std::string::npos);
  }
  std::string bytes;
  std::u16string text;
  EXPECT_TRUE(U16ToLocalName(u"\u00e9\U0001F600", bytes));
  EXPECT_EQ(bytes, "\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_FALSE(U16ToLocalName(std::u16string(1, char16_t{0xD800}), bytes));
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "a\xFF"}) EXPECT_FALSE(LocalNameToU16(bad, text)) << bad;
}

TEST(WinWorkFolder, BesideTheModuleUnlessKivmodWorkdirIsSet) {
  const wchar_t* set = _wgetenv(L"KIVMOD_WORKDIR");
  const std::wstring saved = set ? set : L"";
  _wputenv(L"KIVMOD_WORKDIR=");
  wchar_t exe[MAX_PATH];
  ASSERT_NE(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
  std::u16string folder = U16(exe);
  folder.resize(folder.find_last_of(u'\\'));
  EXPECT_EQ(WorkFilePath(u"TempXML"), folder + u"\\TempXML");
  _wputenv((L"KIVMOD_WORKDIR=" + saved).c_str());
}

}  // namespace
