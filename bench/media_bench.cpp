// Music through the in-process simulated phone.
//
// Sound list: Kiv_GetAllSoundFiles over a tree of tagged files, the simulated phone's own
// work (walking its folder, TagLib reading every file, building the document) timed apart,
// beside libxml2's bare parse of the same list in the same run; the library's part (the call
// less the phone's work) against that parse, goal within 2 x. Peak memory of the call is
// counted from every allocation (C++ and libxml2) but the phone's own, against the list's size,
// goal within 3 x.
//
// Playlists: a playlist of 10000 songs put and read back at two packet sizes, each direction
// beside the time of as many bare exchanges as it needs.
//
//   media_bench [FILES] [SONGS]     (default 20000 10000)
#include <libxml/parser.h>
#include <libxml/xmlmemory.h>
#include <malloc.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>

#include "filemanager/manager.hpp"
#include "kivmod/kivmod.h"
#include "link/builtin_link.hpp"
#include "link/phone_link.hpp"
#include "platform/text.hpp"
#include "protocol/media_commands.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Bytes allocated now, over operator new and libxml2, and the most the library held since the
// last reset. A block made while the simulated phone handles a request is the phone's own and
// counted apart wherever it is freed: each block carries its size and owner in a header.
std::atomic<int64_t> g_now{0}, g_phone{0}, g_peak{0};
thread_local bool t_inPhone = false;
struct alignas(16) Header {
  int64_t size;
  int64_t phone;
};
void Count(int64_t n, bool phone) {
  if (phone) g_phone += n;
  const int64_t library = (g_now += n) - g_phone;
  int64_t peak = g_peak.load();
  while (n > 0 && library > peak && !g_peak.compare_exchange_weak(peak, library)) {
  }
}
void* CountedMalloc(size_t n) {
  auto* h = static_cast<Header*>(std::malloc(n + sizeof(Header)));
  if (!h) return nullptr;
  *h = {static_cast<int64_t>(n), t_inPhone};
  Count(h->size, t_inPhone);
  return h + 1;
}
void CountedFree(void* p) {
  if (!p) return;
  Header* h = static_cast<Header*>(p) - 1;
  Count(-h->size, h->phone != 0);
  std::free(h);
}
void* CountedRealloc(void* p, size_t n) {
  if (!p) return CountedMalloc(n);
  Header* h = static_cast<Header*>(p) - 1;
  const Header old = *h;
  auto* q = static_cast<Header*>(std::realloc(h, n + sizeof(Header)));
  if (!q) return nullptr;
  Count(-old.size, old.phone != 0);
  *q = {static_cast<int64_t>(n), t_inPhone};
  Count(q->size, t_inPhone);
  return q + 1;
}
char* CountedStrdup(const char* s) {
  const std::size_t n = std::strlen(s) + 1;
  auto* p = static_cast<char*>(CountedMalloc(n));
  if (p) std::memcpy(p, s, n);
  return p;
}

class TimedLink : public kiv::BuiltinLink {
 public:
  int PktSend(const kiv::CGenPacket& request) override {
    ++sends;
    auto start = Clock::now();
    t_inPhone = true;
    int sent = BuiltinLink::PktSend(request);
    t_inPhone = false;
    phone += Clock::now() - start;
    return sent;
  }
  Clock::duration phone{};
  long sends = 0;
};

void Connect() {
  Kiv_InitalizeU(nullptr);
  if (Kiv_Connect(1, 0, nullptr, 1) != 1) {
    std::fprintf(stderr, "cannot connect to the simulated phone\n");
    std::exit(1);
  }
}

void MakeWav(const fs::path& path, int seconds) {
  std::string w = "RIFF";
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) w.push_back(static_cast<char>(v >> (8 * i)));
  };
  const uint32_t data = 8000u * static_cast<uint32_t>(seconds);
  u32(36 + data);
  w += "WAVEfmt ";
  u32(16);
  w += std::string("\x01\x00\x01\x00", 4);
  u32(8000);
  u32(8000);
  w += std::string("\x01\x00\x08\x00", 4);
  w += "data";
  u32(data);
  w.append(data, '\x80');
  std::ofstream(path, std::ios::binary) << w;
}

}  // namespace

void* operator new(std::size_t n) {
  void* p = CountedMalloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }

int main(int argc, char** argv) {
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  xmlMemSetup(CountedFree, CountedMalloc, CountedRealloc, CountedStrdup);
  const int files = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int songs = argc > 2 ? std::atoi(argv[2]) : 10000;
  const fs::path base = fs::temp_directory_path() / ("kivmod-mediabench-" + std::to_string(::getpid()));
  const fs::path phoneDir = base / "phone";

  // Twenty tagged templates, copied into 100 album folders.
  fs::create_directories(base / "templates");
  for (int t = 0; t < 20; ++t) {
    fs::path p = base / "templates" / (std::to_string(t) + ".wav");
    MakeWav(p, 1 + t % 5);
    TagLib::FileRef f(p.c_str());
    f.tag()->setArtist(TagLib::String("Performer " + std::to_string(t)));
    f.tag()->setTitle(TagLib::String("A title of song number " + std::to_string(t)));
    f.tag()->setAlbum(TagLib::String("Album " + std::to_string(t % 7)));
    f.tag()->setGenre(TagLib::String(t % 2 ? "Rock" : "Pop"));
    f.save();
  }
  for (int i = 0; i < files; ++i) {
    fs::path folder = phoneDir / "Music" / ("Album " + std::to_string(i % 100));
    fs::create_directories(folder);
    char name[64];
    std::snprintf(name, sizeof name, "track %06d.wav", i);
    fs::copy_file(base / "templates" / (std::to_string(i % 20) + ".wav"), folder / name);
  }
  ::setenv("KIVMOD_LINK", ("sim:" + phoneDir.string()).c_str(), 1);
  ::setenv("KIVMOD_WORKDIR", (base / "work").c_str(), 1);
  auto link = std::make_shared<TimedLink>();
  kiv::InstallLink(link);

  // ---- Sound list ----
  double best = 1e30, phoneMs = 0;
  int64_t peak = 0, kept = 0;
  for (int round = 0; round < 3; ++round) {
    Connect();
    if (!Kiv_OpenFolder(u"Music", nullptr)) return 1;
    link->phone = {};
    // The records of the open go first, so that what the call keeps can be told apart.
    kiv::CurrentManager()->m_FileInfos.clear();
    const int64_t baseline = g_now.load() - g_phone.load();
    g_peak = baseline;
    auto start = Clock::now();
    const int ok = Kiv_GetAllSoundFiles(nullptr);
    const double ms = Ms(Clock::now() - start);
    peak = std::max<int64_t>(peak, g_peak.load() - baseline);
    kept = g_now.load() - g_phone.load() - baseline;
    if (!ok || kiv::CurrentManager()->m_FileInfos.size() != static_cast<std::size_t>(files)) {
      std::fprintf(stderr, "sound list failed: %d, %zu files\n", ok, kiv::CurrentManager()->m_FileInfos.size());
      return 1;
    }
    if (ms < best) {
      best = ms;
      phoneMs = Ms(link->phone);
    }
    kiv::CurrentLink().Disconnect();
  }
  // The same list as stored in TempXML, and libxml2's bare parse of it.
  Connect();
  kiv::CMediaCommands commands(kiv::CurrentManager()->m_PFileMan);
  if (!commands.GetSoundList()) return 1;
  std::ifstream in(fs::path(kiv::U16ToUtf8(commands.TempXmlPath())), std::ios::binary);
  const std::string list(std::istreambuf_iterator<char>(in), {});
  double parse = 1e30;
  for (int round = 0; round < 3; ++round) {
    auto start = Clock::now();
    xmlDocPtr doc = xmlReadMemory(list.data(), static_cast<int>(list.size()), nullptr, "UTF-8",
                                  XML_PARSE_NONET | XML_PARSE_HUGE);
    parse = std::min(parse, Ms(Clock::now() - start));
    if (!doc) return 1;
    xmlFreeDoc(doc);
  }
  std::printf("sound files %d, list %zu bytes (UTF-8)\n", files, list.size());
  std::printf("Kiv_GetAllSoundFiles %9.1f ms, of which the simulated phone %9.1f ms (TagLib, folder walk, document)\n",
              best, phoneMs);
  std::printf("the library's part   %9.1f ms\n", best - phoneMs);
  std::printf("libxml2 bare parse   %9.1f ms\n", parse);
  std::printf("ratio                %9.2f x  (goal within 2 x)\n", (best - phoneMs) / parse);
  const double size = static_cast<double>(list.size());
  std::printf("library's peak memory in the call %lld bytes = %.2f x the list (goal within 3 x; the phone's own "
              "allocations left out)\n",
              static_cast<long long>(peak), static_cast<double>(peak) / size);
  std::printf("  of which the file and sound records the call keeps %lld bytes (%.2f x), the working set above them "
              "%.2f x\n",
              static_cast<long long>(kept), static_cast<double>(kept) / size, static_cast<double>(peak - kept) / size);
  kiv::CurrentLink().Disconnect();

  // ---- Playlists ----
  std::string text;
  for (int i = 0; i < songs; ++i)
    text += (i ? ":" : "") + std::string(i % 4 ? "Music/Album " : "Card/Music/Album ") + std::to_string(i % 100) +
            "/track " + std::to_string(i) + ".wav";
  const fs::path in1 = base / "in.txt", out1 = base / "out.txt";
  std::ofstream(in1, std::ios::binary) << text;
  for (const char* packet : {"2048", "32768"}) {
    std::ofstream(base / "phone.xml") << "<phone maxPacket=\"" << packet << "\"><card name=\"Memory Card\"/></phone>";
    ::setenv("KIVMOD_SIM_CONFIG", (base / "phone.xml").c_str(), 1);
    Connect();
    Kiv_DeletePlaylist(u"Bench");
    link->sends = 0;
    auto start = Clock::now();
    if (!Kiv_AddPlaylist(kiv::Utf8ToU16(in1.string()).c_str(), u"Bench", nullptr)) return 1;
    const double putMs = Ms(Clock::now() - start);
    const long putSends = link->sends;
    link->sends = 0;
    start = Clock::now();
    if (!Kiv_GetPlayListContents(kiv::Utf8ToU16(out1.string()).c_str(), u"Bench", nullptr)) return 1;
    const double getMs = Ms(Clock::now() - start);
    const long getSends = link->sends;
    std::ifstream back(out1, std::ios::binary);
    const bool same = std::string(std::istreambuf_iterator<char>(back), {}) == text;
    // Bare exchanges: a request that the phone answers at once.
    start = Clock::now();
    for (long i = 0; i < std::max(putSends, getSends); ++i) Kiv_DeletePlaylist(u"none");
    const double bareMs = Ms(Clock::now() - start) / static_cast<double>(std::max(putSends, getSends));
    std::printf("playlist of %d songs (%zu bytes), packet %s: put %7.2f ms in %ld exchanges (bare: %.2f ms); "
                "read back %7.2f ms in %ld exchanges (bare: %.2f ms); %s\n",
                songs, text.size(), packet, putMs, putSends, bareMs * static_cast<double>(putSends), getMs, getSends,
                bareMs * static_cast<double>(getSends), same ? "identical" : "DIFFERENT");
    kiv::CurrentLink().Disconnect();
  }
  kiv::DestroyCurrentManager();
  kiv::InstallLink(nullptr);
  fs::remove_all(base);
  return 0;
}
