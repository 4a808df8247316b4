#include "filemanager/records.hpp"

namespace kiv {

int PathDepth(std::u16string_view path) {
  int depth = 1;
  for (std::size_t i = 1; i + 1 < path.size(); ++i)
    if (path[i] == u'\\') ++depth;
  return depth;
}

PhoneFolderInfo::PhoneFolderInfo(const PhoneFolderInfo* parent, uint32_t attr, std::u16string path, int maxDepth)
    : m_sFolderName(std::move(path)),
      m_strUpFolderName(parent ? parent->m_sFolderName : std::u16string(kRootParent)) {
  if (parent) m_arrTypes = parent->m_arrTypes;
  SetAttributes(attr, maxDepth);
}

void PhoneFolderInfo::SetAttributes(uint32_t attr, int maxDepth) {
  m_dwAttr = attr;
  if (PathDepth(m_sFolderName) >= maxDepth) m_dwAttr &= ~kFolderSubfolders;
  if (m_dwAttr & kFolderPreListed) {
    m_bListed = 1;
    m_bSubOpened = 1;
    m_dwAttr &= ~kFolderPreListed;
  }
}

}  // namespace kiv
