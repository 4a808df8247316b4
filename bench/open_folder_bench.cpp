// Opening a phone folder of many files, against the system XML engine's bare parse of the
// same listing (libxml2 on Linux, MSXML on Windows), in one run. Prints the times, their
// ratios and the process's peak memory.
//
// The open's time holds the phone's side (its folder read, a status per file, building the
// document, and the link), which a real phone does on its side of the cable; that part is
// timed apart, and the library's part alone is timed again with the phone's answers replayed
// from a file of the same listing.
//
//   open_folder_bench [FILES [LINK]]     (default 100000 files)
//
// Without LINK the bench makes a folder of FILES empty files and opens it through the
// in-process simulated phone (Linux only: the Windows library has none). With LINK, in
// KIVMOD_LINK's form (e.g. tcp:127.0.0.1:PORT), it opens the folder "Music" of the phone
// there, which must hold FILES files; one phone can so serve a Linux and a Windows run alike.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "bench_system.hpp"
#include "filemanager/manager.hpp"
#include "kivmod/kivmod.h"
#include "link/builtin_link.hpp"
#include "link/phone_link.hpp"
#include "platform/text.hpp"
#include "xml/xml_engine.hpp"
#include "xml/xml_file_list.hpp"

namespace {

namespace fs = std::filesystem;
using kivbench::Clock;
using kivbench::Ms;

#ifdef _WIN32
constexpr double kGoalMs = 2000;  // under Wine, which adds its own cost
#else
constexpr double kGoalMs = 1000;
#endif

const KivChar* const kMusic = reinterpret_cast<const KivChar*>(u"Music");

// The built-in link, timing the phone's side: over the in-process simulated phone a send is
// the phone handling the request and making its answer; over a stream a read waits for it.
class TimedLink : public kiv::BuiltinLink {
 public:
  int PktSend(const kiv::CGenPacket& request) override {
    auto start = Clock::now();
    int sent = BuiltinLink::PktSend(request);
    phone += Clock::now() - start;
    return sent;
  }
  int PktRead(kiv::CGenPacket& answer) override {
    auto start = Clock::now();
    int read = BuiltinLink::PktRead(answer);
    phone += Clock::now() - start;
    return read;
  }
  Clock::duration phone{};
};

void Connect(const std::shared_ptr<TimedLink>& link) {
  kiv::InstallLink(link);
  Kiv_InitalizeU(nullptr);
  if (Kiv_Connect(1, 0, nullptr, 1) != 1) {
    std::fprintf(stderr, "cannot connect to the phone\n");
    std::exit(1);
  }
}

// Answers the XML listing from a file of the document as the phone sends it (UTF-16LE),
// one piece per request read from the disk, and every other request with success: the
// library's memory is then the only one that grows during an open.
class ReplayLink : public kiv::BuiltinLink {
 public:
  ReplayLink(const fs::path& document, std::size_t piece)
      : in_(document, std::ios::binary), size_(static_cast<std::size_t>(fs::file_size(document))), piece_(piece) {}
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
      if (!in_.read(reinterpret_cast<char*>(body.data() + 1), static_cast<std::streamsize>(n))) return 0;
      sent_ += n;
      body[0] = sent_ < size_ ? 0x02 : 0x01;
    }
    answer.SetHeader(cls_, code_, 1, 0);
    return kiv::CM_RET_SUCCESS;
  }

 private:
  std::ifstream in_;
  std::size_t size_, sent_ = 0, piece_;
  uint8_t code_ = 0, cls_ = 0x20;
};

// A manager that knows the phone (connected once over the phone's link), then the replayed
// listing as its link.
void ConnectReplaying(const std::shared_ptr<TimedLink>& link, const fs::path& document) {
  Connect(link);
  kiv::CurrentLink().Disconnect();
  kiv::InstallLink(std::make_shared<ReplayLink>(document, 4096 - 10));
}

// Takes every node the engine tells and keeps nothing: the engine's own cost of a read.
class NullSink : public kiv::XmlReadSink {
 public:
  void VisitDocument() override {}
  std::u16string& BeginElement() override { return slot_; }
  std::u16string& NextAttributeName() override { return slot_; }
  std::u16string& NextAttributeValue() override { return slot_; }
  void OpenElement() override {}
  void CloseElement() override {}
  void VisitLeaf(std::u16string_view, std::u16string_view) override {}

 private:
  std::u16string slot_;
};

bool Opened(int files) {
  return kiv::CurrentManager()->m_FileInfos.size() == static_cast<std::size_t>(files);
}

}  // namespace

int main(int argc, char** argv) {
  kivbench::KeepFreedMemory();
  const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
  std::string phone = argc > 2 ? argv[2] : "";
  const fs::path base = fs::temp_directory_path() / ("kivmod-openbench-" + std::to_string(kivbench::ProcessId()));
  fs::create_directories(base / "work");
  if (phone.empty()) {
#ifdef _WIN32
    std::fprintf(stderr, "usage: open_folder_bench FILES LINK (a phone whose folder Music holds FILES files)\n");
    return 2;
#else
    fs::create_directories(base / "phone" / "Music");
    for (int i = 0; i < files; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "track %06d.mp3", i);
      std::ofstream(base / "phone" / "Music" / name);
    }
    phone = "sim:" + (base / "phone").string();
#endif
  }
  kivbench::SetEnv("KIVMOD_LINK", phone);
  kivbench::SetEnv("KIVMOD_WORKDIR", (base / "work").string());
  const long before = kivbench::PeakKiB();

  auto link = std::make_shared<TimedLink>();
  double best = 1e30, phoneMs = 0;
  for (int round = 0; round < 3; ++round) {
    Connect(link);
    link->phone = {};
    auto start = Clock::now();
    int ok = Kiv_OpenFolder(kMusic, nullptr);
    const double ms = Ms(Clock::now() - start);
    if (ms < best) {
      best = ms;
      phoneMs = Ms(link->phone);
    }
    if (!ok || !Opened(files)) {
      std::fprintf(stderr, "open failed: %d, %zu files recorded\n", ok, kiv::CurrentManager()->m_FileInfos.size());
      return 1;
    }
    kiv::CurrentLink().Disconnect();
  }
  const long afterOpen = kivbench::PeakKiB();

  // The listing exchange alone: the phone reading its folder and building the document, the
  // pieces over the link, and their conversion into TempXML.
  Connect(link);
  kiv::CPFileMan& protocol = kiv::CurrentManager()->m_PFileMan;
  double exchange = 1e30;
  for (int round = 0; round < 3; ++round) {
    auto start = Clock::now();
    protocol.GetXmlFolderList(u"Music");
    exchange = std::min(exchange, Ms(Clock::now() - start));
  }
  std::string listing;
  {
    // Closed at once: Windows keeps an open file from being removed and written afresh.
    std::ifstream in(fs::path(protocol.m_strTempXmlPath), std::ios::binary);
    listing.assign(std::istreambuf_iterator<char>(in), {});
  }
  kiv::CurrentLink().Disconnect();
  std::string_view unmarked(listing);  // without the byte order mark TempXML starts with
  if (unmarked.starts_with("\xEF\xBB\xBF")) unmarked.remove_prefix(3);

  // The same listing as the phone sent it, parsed by the system's engine alone.
  const double parse = kivbench::BareParseMs(listing);
  if (parse < 0) {
    std::fprintf(stderr, "%s does not load the listing\n", kivbench::kXmlEngine);
    return 1;
  }

  // The engine's read: its parse and the walk of its nodes, without the library's records.
  double engine = 1e30;
  for (int round = 0; round < 3; ++round) {
    NullSink sink;
    std::u16string detail;
    auto start = Clock::now();
    if (!kiv::ReadXmlText(unmarked, kiv::XmlLimits{}, sink, detail)) return 1;
    engine = std::min(engine, Ms(Clock::now() - start));
  }

  // The reader alone on the stored listing, its items kept.
  double reader = 1e30;
  for (int round = 0; round < 3; ++round) {
    kiv::XmlFileItems parsed;
    auto start = Clock::now();
    if (!kiv::CXmlFileList().VisitFolderList(protocol.m_strTempXmlPath,
                                             [&](kiv::XML_FILE_ITEM& item) { parsed.push_back(std::move(item)); }))
      return 1;
    reader = std::min(reader, Ms(Clock::now() - start));
  }

  // The library alone: the same document replayed from the disk.
  const fs::path document = base / "listing.utf16";
  {
    std::u16string text = kiv::Utf8ToU16(unmarked);
    std::ofstream(document, std::ios::binary)
        .write(reinterpret_cast<const char*>(text.data()), static_cast<std::streamsize>(text.size() * 2));
  }
  double replayed = 1e30;
  for (int round = 0; round < 3; ++round) {
    ConnectReplaying(link, document);
    auto start = Clock::now();
    const int ok = Kiv_OpenFolder(kMusic, nullptr);
    replayed = std::min(replayed, Ms(Clock::now() - start));
    if (!ok || !Opened(files)) {
      std::fprintf(stderr, "replayed open failed: %d, %zu files recorded\n", ok,
                   kiv::CurrentManager()->m_FileInfos.size());
      return 1;
    }
  }

  std::printf("files %d, listing %zu bytes, phone %s\n", files, listing.size(), phone.c_str());
  std::printf("Kiv_OpenFolder   %9.1f ms  (goal under %.0f ms)\n", best, kGoalMs);
  std::printf("  of which the listing exchange %9.1f ms (phone, link, TempXML)\n", exchange);
  std::printf("    the phone's side %6.1f ms in that open (its folder read, a status per file, the document%s)\n",
              phoneMs, phone.starts_with("sim:") ? "" : "; the link");
  std::printf("  and reading it into the tree  %9.1f ms\n", best - exchange);
  std::printf("    XML reader into items %7.1f ms\n", reader);
  std::printf("the library's part %7.1f ms (the open less the phone's side)\n", best - phoneMs);
  std::printf("replayed open    %9.1f ms  (the library alone, the phone's answers read from a file)\n", replayed);
  std::printf("%-17s%9.1f ms  (%.0f %% of the replayed open)\n", (std::string(kivbench::kXmlEngine) + " parse").c_str(),
              parse, 100 * parse / replayed);
  std::printf("engine read      %9.1f ms  (%.0f %% of the replayed open; the parse and the walk of its nodes,"
              " into a sink that keeps nothing)\n",
              engine, 100 * engine / replayed);
  std::printf("ratio            %9.2f x  the whole open; %.2f x the library's part; %.2f x the replayed open"
              " (goal within 3 x)\n",
              best / parse, (best - phoneMs) / parse, replayed / parse);
  std::printf("peak memory      %9ld KiB (before the opens %ld KiB)\n", afterOpen, before);

  // The library's memory alone, with the process's peak reset just before the open.
  {
    ConnectReplaying(link, document);
    kivbench::TrimHeap();
    const bool reset = kivbench::ResetPeak();
    const long base_ = kivbench::ResidentKiB();
    const long long inUseBefore = kivbench::HeapInUse();
    const int ok = Kiv_OpenFolder(kMusic, nullptr);
    const long peak = kivbench::PeakKiB();
    const double grown = static_cast<double>(peak - base_) * 1024;
    if (reset)
      std::printf("library alone    %9.1f MB peak growth for a %.1f MB listing: %.2f x (goal within 3 x)%s\n",
                  grown / 1e6, static_cast<double>(listing.size()) / 1e6, grown / static_cast<double>(listing.size()),
                  ok && Opened(files) ? "" : " (open failed)");
    else
      std::printf("library alone    the peak cannot be started anew on this system: see the peak memory above%s\n",
                  ok && Opened(files) ? "" : " (open failed)");
    if (inUseBefore >= 0)
      std::printf("                 %9.1f MB of it still in use after the open (the tree's records)\n",
                  static_cast<double>(kivbench::HeapInUse() - inUseBefore) / 1e6);
  }
  kiv::DestroyCurrentManager();
  kiv::InstallLink(nullptr);
  fs::remove_all(base);
  return 0;
}
