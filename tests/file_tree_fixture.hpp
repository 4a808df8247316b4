// A connected session against a scripted phone, with helpers to put records into the folder
// tree and to read the texts of the requests that the library sent.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "filemanager/manager.hpp"
#include "platform/shell_path.hpp"
#include "plugged_phone.hpp"

namespace kivold {

// Types: mp3 may go both ways, jpg only to the PC, jar only to the phone, txt has no mode.
inline constexpr char16_t kTreeTypes[] = u"mp3|3|0/jpg|1|500/jar|2|100/txt|0";

inline std::vector<uint8_t> TreeHandshake() {
  // packet 4096; internal: file name 64, folder name 32, path 255, depth 6; card: depth 4,
  // folder name 40, file name 80, path 200.
  Body b;
  b.B(0x01).D(0xFFFFFFFF).B(9).D(4096).D(64).T(kTreeTypes).D(32).D(255).B(6).B(1);
  b.B(4).D(40).D(80).D(200).T(u"Memory Card");
  return b;
}

// The texts of a request body made of "p" and "s" fields (a length byte, the units, a NUL).
inline std::vector<std::u16string> Texts(const std::vector<uint8_t>& body, std::size_t from = 0) {
  std::vector<std::u16string> out;
  std::size_t at = from;
  while (at < body.size()) {
    std::size_t units = body[at++];
    if (units == 0 || at + 2 * units > body.size()) break;
    std::u16string text;
    for (std::size_t i = 0; i + 1 < units; ++i)
      text.push_back(static_cast<char16_t>(body[at + 2 * i] | body[at + 2 * i + 1] << 8));
    out.push_back(std::move(text));
    at += 2 * units;
  }
  return out;
}

// An owned host list built from texts.
class HostList {
 public:
  HostList(std::initializer_list<std::u16string> texts) : list_(Kiv_StringList_New()) {
    for (const auto& t : texts) Kiv_StringList_Add(list_, reinterpret_cast<const KivChar*>(t.c_str()));
  }
  ~HostList() { Kiv_StringList_Free(list_); }
  HostList(const HostList&) = delete;
  HostList& operator=(const HostList&) = delete;
  KivStringList* get() const { return list_; }

 private:
  KivStringList* list_;
};

inline const KivChar* K(const std::u16string& text) { return reinterpret_cast<const KivChar*>(text.c_str()); }

class ScriptedTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Kiv_InitalizeU(window.wnd);
    phone.Answer(TreeHandshake());
    phone.Answer(Body().B(0x01).W(0).T(u"Music|3|mp3|jpg/Pictures|3/Memory Card|3"));
    ASSERT_EQ(Kiv_Connect(1, 0, window.wnd, 1), 1);
    for (auto& folder : manager().m_FolderInfos) folder.m_bListed = 1;
    Reset();
  }
  void TearDown() override { kiv::DestroyCurrentManager(); }

  // Forgets what the phone and the window saw so far.
  void Reset() {
    phone.sent.clear();
    phone.calls.clear();
    window.messages.clear();
  }
  kiv::CPhoneFileManager& manager() { return *kiv::CurrentManager(); }

  // A listed folder under its parent's record (or a top-level one) with the given attributes.
  kiv::PhoneFolderInfo& AddFolder(const std::u16string& path, uint32_t attr = 0x1B) {
    auto& m = manager();
    const kiv::PhoneFolderInfo* parent = m.FindFolder(kiv::PathRemoveFileSpec(path));
    kiv::PhoneFolderInfo record(parent, attr, path, static_cast<int>(m.MemoryOf(path).maxDepth));
    record.m_bListed = 1;
    m.m_FolderInfos.push_back(std::move(record));
    return m.m_FolderInfos.back();
  }
  void AddFile(const std::u16string& folder, const std::u16string& name, int32_t size = 10, uint32_t attr = 0,
               int32_t localSize = 0) {
    manager().m_FileInfos.push_back(kiv::PhoneFileInfo{folder, name, size, localSize, 1, 2, 3, attr});
  }
  // The (code, report style, text1) of every report, in order.
  std::vector<std::tuple<uintptr_t, uint32_t, std::u16string>> Reports() const {
    std::vector<std::tuple<uintptr_t, uint32_t, std::u16string>> out;
    for (const auto& m : window.messages)
      if (m.msg == KIV_MSG_REPORT) out.emplace_back(m.wParam, m.style, m.text1);
    return out;
  }
  std::vector<uint8_t> SentCodes() const {
    std::vector<uint8_t> out;
    for (const auto& p : phone.sent) out.push_back(p.code);
    return out;
  }

  PluggedPhone phone;
  RecordingWindow window;
};

// Runs the test in a fresh temporary folder as the process's current folder (relative paths,
// such as phone paths looked up on the PC, resolve inside it).
class TempCurrentFolder {
 public:
  explicit TempCurrentFolder(const std::string& tag)
      : previous_(std::filesystem::current_path()),
        dir_(std::filesystem::temp_directory_path() / ("kivmod-" + tag + "-" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
  }
  ~TempCurrentFolder() {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(dir_);
  }
  const std::filesystem::path& path() const { return dir_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path dir_;
};

}  // namespace kivold
