// The records of the phone folder tree: one per known phone folder and one per known file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// Folder attribute bits.
inline constexpr uint32_t kFolderCopyToPc = 0x0001;
inline constexpr uint32_t kFolderWritable = 0x0002;
inline constexpr uint32_t kFolderFixed = 0x0004;
inline constexpr uint32_t kFolderSubfolders = 0x0008;
inline constexpr uint32_t kFolderRenamable = 0x0010;
inline constexpr uint32_t kFolderPreListed = 0x0020;  // consumed at creation
inline constexpr uint32_t kFolderHidden = 0x0040;
inline constexpr uint32_t kFolderNoSubfolders = 0x0100;
inline constexpr uint32_t kFolderListingFlag = 0x8000;

// File attribute bits the model tests.
inline constexpr uint32_t kFileHidden = 0x0040;
inline constexpr uint32_t kFileNotWritable = 0x0080;

inline constexpr char16_t kRootParent[] = u"Root";

// A folder path as the space queries and the presence check look it up: a path of one
// character or less (a lone backslash) stands for the phone's root, the empty path.
inline std::u16string_view NormaliseFolderPath(std::u16string_view path) {
  return path.size() <= 1 ? std::u16string_view() : path;
}

// 1 plus the backslashes that are neither the first nor the last character.
int PathDepth(std::u16string_view path);

struct PhoneFolderInfo {
  std::u16string m_sFolderName;
  std::u16string m_strUpFolderName;
  std::vector<std::u16string> m_arrTypes;
  int32_t m_bListed = 0;
  int32_t m_bSubOpened = 0;
  int64_t m_nFreeSize = -1;
  uint32_t m_dwAttr = 0;

  // parent may be null (a top-level folder).
  PhoneFolderInfo(const PhoneFolderInfo* parent, uint32_t attr, std::u16string path, int maxDepth);
  void SetAttributes(uint32_t attr, int maxDepth);
};

struct PhoneFileInfo {
  std::u16string m_strFolder;
  std::u16string m_strName;
  int32_t m_nSize = 0;
  int32_t m_nLocalSize = 0;
  uint32_t m_dwTime1 = 0;
  uint32_t m_dwTime2 = 0;
  uint32_t m_dwTime3 = 0;
  uint32_t m_dwAttr = 0;
};

}  // namespace kiv
