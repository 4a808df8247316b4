// Opening a phone folder of many files through the in-process simulated phone, against
// libxml2's bare parse of the same listing, in one run. Prints both times and their ratio,
// and the process's peak memory. The open's time holds the simulated phone's own work
// (reading its folder, a status call per file, building the document), which a real phone
// does on its side of the cable; that part is timed alone on the same folder and the
// library's part is set against the bare parse as well.
//
//   open_folder_bench [FILES]     (default 100000)
#include <fcntl.h>
#include <libxml/parser.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "filemanager/manager.hpp"
#include "kivmod/kivmod.h"
#include "link/phone_link.hpp"
#include "link/builtin_link.hpp"
#include "platform/text.hpp"
#include "xml/xml_file_list.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void Connect() {
  Kiv_InitalizeU(nullptr);
  if (Kiv_Connect(1, 0, nullptr, 1) != 1) {
    std::fprintf(stderr, "cannot connect to the simulated phone\n");
    std::exit(1);
  }
}

// The built-in link, timing the sends: over the in-process simulated phone a send is the
// phone handling the request and making its answer.
class TimedLink : public kiv::BuiltinLink {
 public:
  int PktSend(const kiv::CGenPacket& request) override {
    auto start = Clock::now();
    int sent = BuiltinLink::PktSend(request);
    phone += Clock::now() - start;
    return sent;
  }
  Clock::duration phone{};
};

// Answers the XML listing from a file of the document as the phone sends it (UTF-16LE),
// one piece per request read from the disk, and every other request with success: the
// library's memory is then the only one that grows during an open.
class ReplayLink : public kiv::BuiltinLink {
 public:
  ReplayLink(const fs::path& document, std::size_t piece) : piece_(piece) {
    fd_ = ::open(document.c_str(), O_RDONLY | O_CLOEXEC);
    size_ = static_cast<std::size_t>(fs::file_size(document));
  }
  ~ReplayLink() override { ::close(fd_); }
  int IsConnected() override { return 1; }
  int PktSend(const kiv::CGenPacket& request) override {
    code_ = request.GetCode();
    cls_ = request.GetClass();
    return 1;
  }
  int PktRead(kiv::CGenPacket& answer) override {
    auto& body = answer.MutableBody();
    body.assign(1, 0x01);
    if (code_ == 0x21) {
      const std::size_t n = std::min(piece_, size_ - sent_);
      body.resize(1 + n);
      if (::pread(fd_, body.data() + 1, n, static_cast<off_t>(sent_)) != static_cast<ssize_t>(n)) return 0;
      sent_ += n;
      body[0] = sent_ < size_ ? 0x02 : 0x01;
    }
    answer.SetHeader(cls_, code_, 1, 0);
    return kiv::CM_RET_SUCCESS;
  }

 private:
  int fd_ = -1;
  std::size_t size_ = 0, sent_ = 0, piece_;
  uint8_t code_ = 0, cls_ = 0x20;
};

// Resident memory now and its peak since the last reset, in KiB (Linux).
long StatusKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  return -1;
}
bool ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char** argv) {
  // Memory given back is kept for reuse instead of being returned to the system and faulted
  // in again: on this kind of virtual machine a page fault costs more than parsing the page,
  // and whether glibc trims depends on what ran before. Both sides of the ratio run under
  // this same rule.
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
  const fs::path base = fs::temp_directory_path() / ("kivmod-openbench-" + std::to_string(::getpid()));
  fs::create_directories(base / "phone" / "Music");
  for (int i = 0; i < files; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "track %06d.mp3", i);
    int fd = ::open((base / "phone" / "Music" / name).c_str(), O_CREAT | O_WRONLY, 0644);
    if (fd >= 0) ::close(fd);
  }
  ::setenv("KIVMOD_LINK", ("sim:" + (base / "phone").string()).c_str(), 1);
  ::setenv("KIVMOD_WORKDIR", (base / "work").c_str(), 1);
  const long before = PeakKiB();

  auto link = std::make_shared<TimedLink>();
  kiv::InstallLink(link);
  double best = 1e30, phoneMs = 0;
  std::size_t recorded = 0;
  for (int round = 0; round < 3; ++round) {
    Connect();
    link->phone = {};
    auto start = Clock::now();
    int ok = Kiv_OpenFolder(u"Music", nullptr);
    const double ms = Ms(Clock::now() - start);
    if (ms < best) {
      best = ms;
      phoneMs = Ms(link->phone);
    }
    recorded = kiv::CurrentManager()->m_FileInfos.size();
    if (!ok || recorded != static_cast<std::size_t>(files)) {
      std::fprintf(stderr, "open failed: %d, %zu files recorded\n", ok, recorded);
      return 1;
    }
    kiv::CurrentLink().Disconnect();
  }
  const long afterOpen = PeakKiB();

  // The same listing as the phone sent it, parsed by libxml2 alone.
  Connect();
  kiv::CPFileMan& protocol = kiv::CurrentManager()->m_PFileMan;
  // The listing exchange alone: the simulated phone reading its folder and building the
  // document, the pieces over the link, and their conversion into TempXML.
  double exchange = 1e30;
  for (int round = 0; round < 3; ++round) {
    auto start = Clock::now();
    protocol.GetXmlFolderList(u"Music");
    exchange = std::min(exchange, Ms(Clock::now() - start));
  }
  std::ifstream in(fs::path(kiv::U16ToUtf8(protocol.m_strTempXmlPath)), std::ios::binary);
  const std::string listing(std::istreambuf_iterator<char>(in), {});
  kiv::CurrentLink().Disconnect();
  double parse = 1e30;
  for (int round = 0; round < 3; ++round) {
    auto start = Clock::now();
    xmlDocPtr doc = xmlReadMemory(listing.data(), static_cast<int>(listing.size()), nullptr, "UTF-8",
                                  XML_PARSE_NONET | XML_PARSE_HUGE);
    parse = std::min(parse, Ms(Clock::now() - start));
    if (!doc) return 1;
    xmlFreeDoc(doc);
  }

  // The reader alone on the stored listing: node records, then items.
  double load = 1e30, items = 1e30;
  for (int round = 0; round < 3; ++round) {
    kiv::CXmlFileList list;
    auto start = Clock::now();
    if (!list.Load(protocol.m_strTempXmlPath)) return 1;
    auto loaded = Clock::now();
    kiv::XmlFileItems parsed;
    list.ParseFolderList(parsed);
    load = std::min(load, Ms(loaded - start));
    items = std::min(items, Ms(Clock::now() - loaded));
  }

  std::printf("files %d, listing %zu bytes\n", files, listing.size());
  std::printf("Kiv_OpenFolder   %9.1f ms  (goal under 1000 ms)\n", best);
  std::printf("  of which the listing exchange %9.1f ms (phone, link, TempXML)\n", exchange);
  std::printf("    the simulated phone's own work %6.1f ms in that open (its folder read, a status per file, the document)\n",
              phoneMs);
  std::printf("  and reading it into the tree  %9.1f ms\n", best - exchange);
  std::printf("    XML reader: records %7.1f ms, items %7.1f ms\n", load, items);
  std::printf("the library's part %7.1f ms (the open less the phone's own work)\n", best - phoneMs);
  std::printf("libxml2 parse    %9.1f ms\n", parse);
  std::printf("ratio            %9.2f x  the whole open; %.2f x the library's part (goal within 3 x)\n", best / parse,
              (best - phoneMs) / parse);
  std::printf("peak memory      %9ld KiB (before the opens %ld KiB)\n", afterOpen, before);

  // The library alone: the same document replayed from the disk, with the process's peak
  // reset just before the open.
  {
    const fs::path document = base / "listing.utf16";
    {
      std::u16string text = kiv::Utf8ToU16(std::string_view(listing).substr(3));  // without the BOM
      std::ofstream(document, std::ios::binary)
          .write(reinterpret_cast<const char*>(text.data()), static_cast<std::streamsize>(text.size() * 2));
    }
    Connect();
    kiv::CurrentLink().Disconnect();
    kiv::InstallLink(std::make_shared<ReplayLink>(document, 4096 - 10));
    malloc_trim(0);
    const bool reset = ResetPeak();
    const long base_ = StatusKiB("VmRSS:");
    const std::size_t inUseBefore = mallinfo2().uordblks;
    const int ok = Kiv_OpenFolder(u"Music", nullptr);
    const long peak = StatusKiB("VmHWM:");
    const long kept = StatusKiB("VmRSS:");
    const std::size_t opened = kiv::CurrentManager()->m_FileInfos.size();
    const double grown = static_cast<double>(peak - base_) * 1024;
    std::printf("library alone    %9.1f MB peak growth for a %.1f MB listing: %.2f x (goal within 3 x)%s%s\n",
                grown / 1e6, static_cast<double>(listing.size()) / 1e6, grown / static_cast<double>(listing.size()),
                reset ? "" : " (peak not reset: figure includes earlier phases)",
                ok && opened == static_cast<std::size_t>(files) ? "" : " (open failed)");
    (void)kept;
    std::printf("                 %9.1f MB of it still in use after the open (the tree's records)\n",
                static_cast<double>(mallinfo2().uordblks - inUseBefore) / 1e6);
  }
  kiv::DestroyCurrentManager();
  kiv::InstallLink(nullptr);
  fs::remove_all(base);
  return 0;
}
