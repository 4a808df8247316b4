// The Java installer's procedures on the transfer manager: open the installer's session,
// probe, send, install and delete application files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "filemanager/manager.hpp"
#include "kivmod/kivmod.h"

namespace kiv {

class CJavaInstaller final : public FamilyState {
 public:
  // Results of SendFileProc besides the count of files sent.
  static constexpr int kNoSpace = -6;
  static constexpr int kCancelled = -9;

  explicit CJavaInstaller(CPhoneFileManager& manager) : m_Manager(manager) {}

  // Opens the cable session and reads the phone information (no root folders): 1 or 0.
  int Connect(int port, KivHwnd messageWindow, int method);
  int IsFileExist(std::u16string_view folder, std::u16string_view name, uint32_t size, uint32_t* value,
                  uint8_t* result);
  // Copies the local files into folder (each under name): the number sent before the walk
  // ended, kNoSpace when a file is larger than the folder's free space (nothing of it sent),
  // kCancelled after a cancel during a copy.
  int SendFileProc(const std::vector<std::u16string>& localFiles, std::u16string_view name,
                   std::u16string_view folder, KivHwnd window);
  int Install(std::u16string_view folder, std::u16string_view name);
  int DeleteFile(std::u16string_view folder, std::u16string_view name);

 private:
  CPhoneFileManager& m_Manager;
};

}  // namespace kiv
