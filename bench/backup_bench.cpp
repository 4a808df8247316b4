// Backup and restore through the C interface and the in-process simulated phone, beside tar on
// the same trees and the same disk in the same run:
//   - many small files (files/s), and
//   - one large file (MB/s),
// each backed up into a backup data file (beside `tar -cf`) and restored onto an empty phone
// (beside `tar -xf`). Prints the ratios (tar time / our time: 1.0 is as fast as tar) and the
// peak memory that each run adds, which stays a few packets whatever the file size.
//
//   backup_bench [FILES] [MiB] [FOLDER]     (default 10000, 256, the system's temporary folder)
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kivmod/kivmod.h"

namespace {

namespace fs = std::filesystem;

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Peak resident memory (KiB) since the last reset.
long PeakKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmHWM:") {
      status >> value;
      return value;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0;
}
long CurrentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0;
}
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

double Run(const std::vector<std::string>& args) {
  const double start = Now();
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", args[0].c_str());
    std::exit(1);
  }
  return Now() - start;
}

void Sync() { ::sync(); }

struct Phase {
  double seconds = 0;
  long addedKiB = 0;
};

// One backup or restore against a simulated phone serving root.
Phase Measure(const fs::path& root, bool backup, const fs::path& file) {
  setenv("KIVMOD_LINK", ("sim:" + root.string()).c_str(), 1);
  KivHwnd wnd = Kiv_CreateWindow([](void*, KivHwnd, uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; }, nullptr);
  Kiv_InitalizeU(wnd);
  if (Kiv_BACKUP_ConnectU(1, 0, wnd, 1) != 1) {
    std::fprintf(stderr, "connect failed\n");
    std::exit(1);
  }
  const std::u16string path = file.u16string();
  Sync();
  ResetPeak();
  const long base = CurrentKiB();
  const double start = Now();
  const int ok = backup ? Kiv_BACKUP_Backup(wnd, path.c_str(), 1) : Kiv_BACKUPTOOL_Restore(path.c_str(), wnd, 0);
  Sync();
  Phase phase{Now() - start, PeakKiB() - base};
  Kiv_BACKUP_Disconnect();
  Kiv_DestroyWindow(wnd);
  if (ok != 1) {
    std::fprintf(stderr, "%s failed\n", backup ? "backup" : "restore");
    std::exit(1);
  }
  return phase;
}

void Report(const char* what, double units, const char* unit, const Phase& ours, double tarSeconds,
            const char* tarWhat) {
  std::printf("%-8s %10.1f %-7s peak +%6.1f MiB | %-7s %10.1f %-7s | tar/ours %.2f\n", what, units / ours.seconds,
              unit, static_cast<double>(ours.addedKiB) / 1024, tarWhat, units / tarSeconds, unit,
              tarSeconds / ours.seconds);
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 10000;
  const std::size_t mib = argc > 2 ? static_cast<std::size_t>(std::atoi(argv[2])) : 256;
  const fs::path base = (argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path()) /
                        ("kivmod-backupbench-" + std::to_string(::getpid()));
  fs::remove_all(base);
  fs::create_directories(base);
  // Room for everything, given as a figure so that the phone does not measure its tree per file.
  std::ofstream(base / "phone.xml") << "<phone><internal total=\"68719476736\" free=\"68719476736\"/></phone>";
  setenv("KIVMOD_SIM_CONFIG", (base / "phone.xml").c_str(), 1);
  std::fprintf(stdout, "backup_bench: %d small files, one %zu MiB file, in %s\n", files, mib, base.c_str());

  // The small files: 100 folders, 500 to 4000 bytes each.
  const fs::path small = base / "small", big = base / "big";
  uint64_t smallBytes = 0;
  for (int i = 0; i < files; ++i) {
    fs::path folder = small / "Files" / ("folder " + std::to_string(i % 100));
    if (i < 100) fs::create_directories(folder);
    std::string content(500 + (i * 37) % 3500, static_cast<char>('a' + i % 26));
    std::ofstream(folder / ("file " + std::to_string(i) + ".txt"), std::ios::binary) << content;
    smallBytes += content.size();
  }
  fs::create_directories(big / "Videos");
  {
    std::vector<char> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 131 + i / 4093);
    std::ofstream out(big / "Videos" / "large.mp4", std::ios::binary);
    for (std::size_t i = 0; i < mib; ++i) out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
  const double bigMB = static_cast<double>(mib << 20) / 1e6;

  struct Tree {
    const char* name;
    fs::path root;
    double units;
    const char* unit;
  } trees[] = {{"small", small, static_cast<double>(files), "files/s"}, {"large", big, bigMB, "MB/s"}};
  for (const Tree& t : trees) {
    const fs::path kbk = base / (std::string(t.name) + ".kbk"), tar = base / (std::string(t.name) + ".tar");
    const fs::path phoneB = base / (std::string(t.name) + "-restored"), untar = base / (std::string(t.name) + "-untar");
    fs::create_directories(phoneB);
    fs::create_directories(untar);
    Sync();
    Phase backup = Measure(t.root, true, kbk);
    const double tarC = Run({"sh", "-c", "tar -cf '" + tar.string() + "' -C '" + t.root.string() + "' . && sync"});
    Phase restore = Measure(phoneB, false, kbk);
    const double tarX = Run({"sh", "-c", "tar -xf '" + tar.string() + "' -C '" + untar.string() + "' && sync"});
    std::printf("-- %s (%s)\n", t.name, t.units == bigMB ? "one file" : "many files");
    Report("backup", t.units, t.unit, backup, tarC, "tar -cf");
    Report("restore", t.units, t.unit, restore, tarX, "tar -xf");
    if (t.units != bigMB)
      std::printf("         (%.1f MB of content: backup %.1f MB/s, restore %.1f MB/s)\n",
                  static_cast<double>(smallBytes) / 1e6, static_cast<double>(smallBytes) / 1e6 / backup.seconds,
                  static_cast<double>(smallBytes) / 1e6 / restore.seconds);
    fs::remove_all(phoneB);
    fs::remove_all(untar);
    fs::remove(kbk);
    fs::remove(tar);
  }
  fs::remove_all(base);
  return 0;
}
