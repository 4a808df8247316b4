// The host collection handles behind the opaque C types.
#pragma once

#include <string>
#include <vector>

struct KivStringList {
  std::vector<std::u16string> items;
};

struct KivString {
  std::u16string text;
};

#include <deque>

#include "filemanager/records.hpp"
#include "kivmod/kivmod.h"
#include "platform/text.hpp"

// Host-owned copies of folder tree records with their C views. Records live in deques so
// that appending never moves the texts that earlier views point to.
struct KivFileInfoList {
  std::deque<kiv::PhoneFileInfo> records;
  std::deque<KivFileInfo> views;
  void Append(const kiv::PhoneFileInfo& r) {
    const auto& c = records.emplace_back(r);
    views.push_back({kiv::AsKiv(c.m_strFolder.c_str()), kiv::AsKiv(c.m_strName.c_str()), c.m_nSize, c.m_nLocalSize, c.m_dwTime1, c.m_dwTime2,
                     c.m_dwTime3, c.m_dwAttr});
  }
};

struct KivFolderInfoList {
  std::deque<kiv::PhoneFolderInfo> records;
  std::deque<KivStringList> types;
  std::deque<KivFolderInfo> views;
  void Append(const kiv::PhoneFolderInfo& r) {
    const auto& c = records.emplace_back(r);
    const auto& t = types.emplace_back(KivStringList{c.m_arrTypes});
    views.push_back({kiv::AsKiv(c.m_sFolderName.c_str()), kiv::AsKiv(c.m_strUpFolderName.c_str()), &t, c.m_bListed, c.m_bSubOpened,
                     c.m_nFreeSize, c.m_dwAttr});
  }
};
