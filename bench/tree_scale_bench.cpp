// Costs that must not grow with the size of the phone:
//   - rm -r: the delete walk over N files of one folder, against a link that answers every
//     request at once, so that the figure is the library's own work per file (checks,
//     progress, the request, the tree's bookkeeping);
//   - receiving files on the simulated phone: small files sent into an empty folder, on an
//     empty phone and beside many unrelated files (the phone's own work per file included).
// Prints microseconds of CPU per file and the ratio of the largest case to the smallest;
// linear (per-file constant) work gives ratios near 1.
//
//   tree_scale_bench [DELETE_FILES]   (default 100000)
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "filemanager/manager.hpp"
#include "link/phone_link.hpp"
#include "null_link.hpp"
#include "phonesim/phone.hpp"
#include "phonesim/sim_channel.hpp"
#include "platform/text.hpp"
#include "protocol/pfileman.hpp"

namespace {

namespace fs = std::filesystem;

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Every request succeeds at once.
class YesLink : public kivtest::NullLink {
 public:
  int PktSend(const kiv::CGenPacket& request) override {
    code_ = request.GetCode();
    cls_ = request.GetClass();
    return 1;
  }
  int PktRead(kiv::CGenPacket& answer) override {
    answer.MutableBody().assign(1, 0x01);
    answer.SetHeader(cls_, code_, 1, 0);
    return kiv::CM_RET_SUCCESS;
  }

 private:
  uint8_t code_ = 0, cls_ = 0x20;
};

// The simulated phone in this process, connected from the start.
class SimLink : public kivtest::SimLink {
 public:
  explicit SimLink(std::shared_ptr<phonesim::Phone> phone) : kivtest::SimLink(std::move(phone)) { Connect("bench", 5); }
};

// CPU microseconds per file of deleting n files of one folder.
double DeletePerFile(std::size_t n) {
  kiv::InstallLink(std::make_shared<YesLink>());
  kiv::CPhoneFileManager manager;
  manager.m_FolderInfos.push_back(kiv::PhoneFolderInfo(nullptr, 0x1F, u"Music", 6));
  std::vector<std::u16string> paths, kinds(n, u"0");
  paths.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    kiv::PhoneFileInfo f;
    f.m_strFolder = u"Music";
    f.m_strName = kiv::Utf8ToU16("f" + std::to_string(i) + ".mp3");
    paths.push_back(u"Music\\" + f.m_strName);
    manager.m_FileInfos.push_back(std::move(f));
  }
  const double start = CpuSeconds();
  const int walked = manager.DeletePhoneFileAndDirectoryProc(paths, nullptr, true, &kinds);
  const double cpu = CpuSeconds() - start;
  if (walked != static_cast<int>(n) || !manager.m_FileInfos.empty()) {
    std::fprintf(stderr, "delete walk stopped at %d of %zu\n", walked, n);
    std::exit(1);
  }
  kiv::InstallLink(nullptr);
  return cpu * 1e6 / static_cast<double>(n);
}

// CPU microseconds per file of sending `files` small files into an empty folder of a
// simulated phone that already holds `unrelated` files elsewhere.
double ReceivePerFile(std::size_t files, std::size_t unrelated) {
  const fs::path base = fs::temp_directory_path() / ("kivmod-scale-" + std::to_string(::getpid()));
  fs::remove_all(base);
  fs::create_directories(base / "phone" / "Music" / "In");
  fs::create_directories(base / "phone" / "Other");
  fs::create_directories(base / "pc");
  for (std::size_t i = 0; i < unrelated; ++i) std::ofstream(base / "phone" / "Other" / ("u" + std::to_string(i))) << "x";
  std::ofstream(base / "pc" / "s.mp3") << std::string(1000, 's');
  phonesim::Config config;
  config.internal.total = 1'000'000'000;
  auto phone = std::make_shared<phonesim::Phone>(base / "phone", config);
  kiv::InstallLink(std::make_shared<SimLink>(phone));
  kiv::CPFileMan man;
  const std::u16string source = kiv::Utf8ToU16((base / "pc" / "s.mp3").string());
  const double start = CpuSeconds();
  for (std::size_t i = 0; i < files; ++i) {
    if (man.DownloadFile(source, u"Music\\In", kiv::Utf8ToU16("f" + std::to_string(i) + ".mp3"), 4096, nullptr) !=
        1) {
      std::fprintf(stderr, "send %zu failed\n", i);
      std::exit(1);
    }
  }
  const double cpu = CpuSeconds() - start;
  kiv::InstallLink(nullptr);
  fs::remove_all(base);
  return cpu * 1e6 / static_cast<double>(files);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t big = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000;
  std::printf("rm -r walk, library alone (us of CPU per file)\n");
  const double small = DeletePerFile(4000);
  std::printf("  %7zu files  %8.2f\n", std::size_t{4000}, small);
  std::printf("  %7zu files  %8.2f\n", std::size_t{8000}, DeletePerFile(8000));
  const double large = DeletePerFile(big);
  std::printf("  %7zu files  %8.2f\n", big, large);
  std::printf("  per-file ratio %zu/4000: %.2f\n", big, large / small);

  std::printf("files received by the simulated phone (us of CPU per file, library included)\n");
  const double empty = ReceivePerFile(300, 0);
  std::printf("  300 files, empty phone           %8.1f\n", empty);
  const double crowded = ReceivePerFile(300, 10000);
  std::printf("  300 files beside 10000 others    %8.1f\n", crowded);
  const double many = ReceivePerFile(4000, 0);
  std::printf("  4000 files into an empty folder  %8.1f\n", many);
  std::printf("  per-file ratio crowded/empty: %.2f, 4000/300: %.2f\n", crowded / empty, many / empty);
  return 0;
}
